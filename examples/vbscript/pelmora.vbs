' Pelmora from VBScript: late bound, created by its ProgID.
'   cscript //nologo pelmora.vbs
' On 64-bit Windows, C:\Windows\System32\cscript.exe is the 64-bit script host and needs the x64
' pelmora.dll registered; C:\Windows\SysWOW64\cscript.exe is the 32-bit one and needs the x86 DLL.
Option Explicit

Dim pelmora
Set pelmora = CreateObject("Pelmora.Pelmora")

' The seven inputs: birth weight (g), gestation (days), the mother's booking weight (kg) and
' height (cm), sex (1 male, otherwise female), ethnic group (a code of the base's own list, 1 is
' its reference group), parity (0 to 3, 4 for "4 or more"). ByVal: each call gets fresh copies,
' since every method writes the weeks back into gest (and the Swedish one ht - 167 into ht).
Function Centile(method, ByVal bwt, ByVal gest, ByVal wt, ByVal ht, ByVal sex, ByVal eth, ByVal par)
    Select Case method
        Case "custcentukn": Centile = pelmora.custcentukn(bwt, gest, wt, ht, sex, eth, par)
        Case "custcentswe": Centile = pelmora.custcentswe(bwt, gest, wt, ht, sex, eth, par)
        Case "custcentnz": Centile = pelmora.custcentnz(bwt, gest, wt, ht, sex, eth, par)
        Case "custcentau": Centile = pelmora.custcentau(bwt, gest, wt, ht, sex, eth, par)
    End Select
End Function

Dim m
For Each m In Array("custcentukn", "custcentswe", "custcentnz", "custcentau")
    WScript.Echo m & " " & FormatNumber(Centile(m, 3500, 280, 64, 163, 1, 1, 0), 4)
Next

' The write-back, seen in the caller's own variable.
Dim bwt, gest, wt, ht, sex, eth, par, r
bwt = 3500 : gest = 280 : wt = 64 : ht = 163 : sex = 1 : eth = 1 : par = 0
r = pelmora.custcentukn(bwt, gest, wt, ht, sex, eth, par)
WScript.Echo "gest after the call: " & gest & " weeks"

' A missing input (empty text) is no error: the result is empty text.
r = Centile("custcentukn", 3500, 280, 64, "", 1, 1, 0)
If VarType(r) = vbString And Len(r) = 0 Then WScript.Echo "missing height: empty result"

' A value that is no number raises the runtime's error (13, Type mismatch).
On Error Resume Next
r = Centile("custcentukn", "abc", 280, 64, 163, 1, 1, 0)
WScript.Echo "bwt ""abc"": error " & Err.Number & " " & Err.Description
On Error GoTo 0
