' Kestova Tarvane from VBScript:  cscript plc_example.vbs 5 6  where COM5 reaches the PLC
' and nothing answers on COM6. (WScript.ConnectObject Plc, "Plc_" with a Sub Plc_MelsecOut(Text)
' hears the control's messages in Windows' cscript; Wine's cannot connect events.)
Option Explicit

Dim Plc, Failures, Data
Failures = 0

Sub Expect(Description, Actual, Wanted)
  If Actual <> Wanted Then
    WScript.Echo "FAIL " & Description & ": got " & Actual & ", expected " & Wanted
    Failures = Failures + 1
  End If
End Sub

Set Plc = CreateObject("Kestova.Tarvane")

Plc.CommPort = CInt(WScript.Arguments(0))
Plc.Settings = "9600,n,8,1"
Plc.Timeout = 1
Plc.PortOpen = True

' One word written and read back through the device image.
Expect "WriteD 100", Plc.WriteD(100, 4321), 0
Expect "ReadD 100", Plc.ReadD(100, 2), 0
Expect "PLCD(100)", Plc.PLCD(100), 4321

' A block of three words from a VBScript array.
Data = Array(10, 20, 30)
Expect "WriteBlock D300", Plc.WriteBlock("D300", 3, Data), 0
Expect "ReadD 300", Plc.ReadD(300, 3), 0
Expect "PLCD(302)", Plc.PLCD(302), 30

' One bit set.
Expect "SetM 5", Plc.SetM(5), 0
Expect "ReadM 0", Plc.ReadM(0, 1), 0
Expect "PLCM(5) set", Plc.PLCM(5), True

' Remote STOP and RUN with their optional arguments left out.
Expect "RemoteStop", Plc.RemoteStop(), 0
Expect "RemoteRun", Plc.RemoteRun(), 0

' A line where nothing answers: result 1.
Plc.PortOpen = False
Plc.CommPort = CInt(WScript.Arguments(1))
Plc.PortOpen = True
Expect "WriteD with no answer", Plc.WriteD(0, 1), 1
Plc.PortOpen = False

' Run-time errors reach the script as Err.Number.
On Error Resume Next
Plc.Timeout = 40000
Expect "Overflow error", Err.Number, 6
Err.Clear
On Error GoTo 0

If Failures = 0 Then WScript.Echo "KESTOVA VBSCRIPT OK" Else WScript.Echo Failures & " checks failed"
