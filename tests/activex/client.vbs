' A late-bound automation client of Pelmora, as a script host would be one: the control is created
' by its ProgID (the first argument) and every method is called with variables, so each argument
' arrives as a reference to the script's own variant and write-backs show in the variables.
'
' Wine's cscript reports nothing and exits 0 on an uncaught script error, so every outcome is
' checked here with On Error Resume Next and the exit code is the number of failed checks.
Option Explicit
On Error Resume Next

Dim failures, pelmora, r, bwt, gest, wt, ht, sex, eth, par
failures = 0

Sub Check(ok, what)
    If ok Then
        WScript.Echo "ok   " & what
    Else
        failures = failures + 1
        WScript.Echo "FAIL " & what
    End If
End Sub

' A worked example is published to six significant digits: the centile must lie within half a unit
' of the last digit shown.
Function Near(value, expected, halfUnit)
    Near = False
    If VarType(value) = vbDouble Then Near = (Abs(value - expected) <= halfUnit)
End Function

Sub SetInputs(b, g, w, h, s, e, p)
    bwt = b : gest = g : wt = w : ht = h : sex = s : eth = e : par = p
End Sub

Function Shown(value)
    Shown = TypeName(value) & " " & CStr(value)
End Function

If WScript.Arguments.Count <> 1 Then
    WScript.Echo "usage: cscript //nologo client.vbs PROGID"
    WScript.Quit 100
End If

Set pelmora = CreateObject(WScript.Arguments(0))
Check Err.Number = 0 And IsObject(pelmora), "CreateObject(""" & WScript.Arguments(0) & """): " & Err.Number & " " & Err.Description
If Err.Number <> 0 Then WScript.Quit 101
Err.Clear

' United Kingdom: case A, and the write-back of the weeks into the caller's gest.
SetInputs 3500, 280, 64, 163, 1, 1, 0
r = pelmora.custcentukn(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 0 And Near(r, 48.4398, 0.00005), "custcentukn case A = 48.4398: " & Shown(r) & " err " & Err.Number
Check VarType(gest) = vbDouble And gest = 40, "custcentukn wrote gest back as 40 weeks: " & Shown(gest)
Check bwt = 3500 And wt = 64 And ht = 163 And sex = 1 And eth = 1 And par = 0, "custcentukn left the other six as they were"
Err.Clear

' The same variables again: gest now holds weeks, divided by 7 a second time.
r = pelmora.custcentukn(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 0 And VarType(r) = vbDouble, "second custcentukn call with the same variables succeeds: " & Shown(r)
Check Abs(gest - 40 / 7) < 1E-12, "second call divided gest again: " & Shown(gest)
Err.Clear

' United Kingdom case B, with a number given as text.
SetInputs "3000", 266, 80, 150, 0, 2, 2
r = pelmora.custcentukn(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 0 And Near(r, 51.5967, 0.00005), "custcentukn case B (bwt as text) = 51.5967: " & Shown(r)
Check gest = 38 And VarType(bwt) = vbString And bwt = "3000", "case B: gest 38, bwt still the text ""3000"""
Err.Clear

' Sweden: case A writes back the centred height as well as the weeks.
SetInputs 3500, 280, 65, 165, 1, 1, 0
r = pelmora.custcentswe(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 0 And Near(r, 38.6519, 0.00005), "custcentswe case A = 38.6519: " & Shown(r)
Check ht = -2 And gest = 40, "custcentswe wrote back ht -2 and gest 40: ht " & Shown(ht) & ", gest " & Shown(gest)
Err.Clear
r = pelmora.custcentswe(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 0 And Near(r, 0.405163, 0.0000005), "custcentswe again with the variables case A left = 0.405163: " & Shown(r)
Check ht = -169, "custcentswe centred the height a second time: " & Shown(ht)
Err.Clear

' New Zealand and Australia, case A and case D.
SetInputs 3500, 280, 70, 165, 1, 1, 0
r = pelmora.custcentnz(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 0 And Near(r, 40.8892, 0.00005), "custcentnz case A = 40.8892: " & Shown(r)
Check gest = 40 And ht = 165, "custcentnz wrote back gest only"
Err.Clear
SetInputs 4200, 287, 120, 155, 1, 7, 2
r = pelmora.custcentnz(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 0 And Near(r, 80.7759, 0.00005), "custcentnz case D = 80.7759: " & Shown(r)
Err.Clear
SetInputs 3500, 280, 64, 163, 1, 1, 0
r = pelmora.custcentau(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 0 And Near(r, 46.6843, 0.00005), "custcentau case A = 46.6843: " & Shown(r)
Err.Clear
SetInputs 4000, 287, 70, 165, 1, 3, 3
r = pelmora.custcentau(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 0 And Near(r, 65.7174, 0.00005), "custcentau case D = 65.7174: " & Shown(r)
Check gest = 41, "custcentau wrote back gest 41: " & Shown(gest)
Err.Clear

' A missing input (text of length zero) gives text of length zero and writes nothing back.
SetInputs 3500, 280, 64, "", 1, 1, 0
r = "not called"
r = pelmora.custcentukn(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 0 And VarType(r) = vbString And Len(r) = 0, "empty ht gives an empty result: " & Shown(r)
Check gest = 280, "a missing input leaves gest at 280: " & Shown(gest)
Err.Clear

' Text that is no number: the call fails with the runtime's Type mismatch and delivers nothing.
SetInputs "abc", 280, 64, 163, 1, 1, 0
r = "untouched"
r = pelmora.custcentukn(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 13, "bwt ""abc"" raises error 13: " & Err.Number
Check Err.Description = "Type mismatch", "its description is ""Type mismatch"": """ & Err.Description & """"
Check Err.Source = "Pelmora", "its source is ""Pelmora"": """ & Err.Source & """"
Check r = "untouched", "no result is delivered on failure: " & Shown(r)
Err.Clear

' Null read as a number: Invalid use of Null.
SetInputs 3500, 280, Null, 163, 1, 1, 0
r = pelmora.custcentnz(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 94 And Err.Description = "Invalid use of Null", "Null wt raises 94 ""Invalid use of Null"": " & Err.Number & " " & Err.Description
Check gest = 280, "the failure came before the weeks were written back: " & Shown(gest)
Err.Clear

' Six arguments are refused by the interface: no parameter is optional.
SetInputs 3500, 280, 64, 163, 1, 1, 0
r = "untouched"
r = pelmora.custcentukn(bwt, gest, wt, ht, sex, eth)
Check Err.Number = 450, "a call with six arguments is refused (450, wrong number of arguments): " & Err.Number & " " & Err.Description
Check r = "untouched" And gest = 280, "the refused call computed nothing and wrote nothing"
Err.Clear

' A name the interface does not have.
r = pelmora.custcentxx(bwt, gest, wt, ht, sex, eth, par)
Check Err.Number = 438, "an unknown method raises 438 (no such property or method): " & Err.Number
Err.Clear

Set pelmora = Nothing
WScript.Echo failures & " failure(s)"
WScript.Quit failures
