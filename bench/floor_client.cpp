#include "bench/floor_client.h"

#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace kestova::bench {

FloorClient::FloorClient(const std::string& path) : fd_(OpenRawTerminal(path)) {}

void FloorClient::RoundTrip(std::span<const std::uint8_t> request, std::size_t answer_length,
                            std::chrono::milliseconds max_wait) {
  answer_.resize(answer_length);
  WriteAll(fd_.get(), request);
  std::size_t done = 0;
  while (done < answer_length) {
    const ssize_t count = ::read(fd_.get(), answer_.data() + done, answer_length - done);
    if (count > 0) {
      done += static_cast<std::size_t>(count);
    } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The wait is the whole budget each time; a stalled peer is a broken run, not a
      // time-out to be measured.
      if (!WaitReadable(fd_.get(), max_wait)) {
        throw std::runtime_error("echo peer gave " + std::to_string(done) + " of " +
                                 std::to_string(answer_length) + " answer bytes");
      }
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else {
      throw std::system_error(count < 0 ? errno : EIO, std::generic_category(), "read");
    }
  }
}

}  // namespace kestova::bench
