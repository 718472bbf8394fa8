' The script host must report a script error and fail, unlike Wine's cscript.
Dim Plc
Set Plc = CreateObject("Kestova.Tarvane")
Plc.NoSuchMember = 1
WScript.Echo "not reached"
