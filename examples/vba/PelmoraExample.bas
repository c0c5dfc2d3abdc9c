Attribute VB_Name = "PelmoraExample"
' Pelmora from Office VBA (Excel, Word, Access, Outlook): import this module (File > Import File).
'
' Match Office's bitness, not Windows': Office loads the control into its own process, so 64-bit
' Office (the default install today; File > Account > About says "64-bit") needs the x64
' pelmora.dll registered (pelmora-<version>-x64.msi or regsvr32 x64\pelmora.dll), and 32-bit Office
' the x86 one (pelmora-<version>-x86.msi). A control of the other bitness cannot load: VBA reports
' run-time error 429, "ActiveX component can't create object". Both can be installed side by side.
'
' Early binding (EarlyBound below) needs a reference to the type library: Tools > References >
' "Pelmora customised birth-weight centile control" (or Browse... to pelmora.tlb). It gives
' IntelliSense and compile-time checks; late binding (LateBound) needs no reference.
'
' The methods take their seven arguments by reference as Variants: pass Variant variables (early
' bound, a Long or Double variable is a compile error "ByRef argument type mismatch"). Each call
' writes the weeks back into gest (and the Swedish one ht - 167 into ht), so set them afresh for
' every call.
Option Explicit

Public Sub EarlyBound()
    Dim p As PelmoraLib.Pelmora
    Set p = New PelmoraLib.Pelmora
    Dim bwt As Variant, gest As Variant, wt As Variant, ht As Variant
    Dim sex As Variant, eth As Variant, par As Variant
    bwt = 3500: gest = 280: wt = 64: ht = 163: sex = 1: eth = 1: par = 0
    Debug.Print "United Kingdom: "; p.custcentukn(bwt, gest, wt, ht, sex, eth, par)
    Debug.Print "gest now holds "; gest; " weeks"
End Sub

Public Sub LateBound()
    Dim p As Object
    Set p = CreateObject("Pelmora.Pelmora")
    Dim bwt As Variant, gest As Variant, wt As Variant, ht As Variant
    Dim sex As Variant, eth As Variant, par As Variant
    bwt = 3500: gest = 280: wt = 64: ht = 163: sex = 1: eth = 1: par = 0
    Debug.Print "Australia: "; p.custcentau(bwt, gest, wt, ht, sex, eth, par)
End Sub

' A worksheet function: =PelmoraCentile("uk", 3500, 280, 64, 163, 1, 1, 0). The base is "uk",
' "swe", "nz" or "au". A missing input gives an empty cell; a failure shows as #VALUE!.
Public Function PelmoraCentile(ByVal base As String, ByVal bwt As Variant, ByVal gest As Variant, _
                               ByVal wt As Variant, ByVal ht As Variant, ByVal sex As Variant, _
                               ByVal eth As Variant, ByVal par As Variant) As Variant
    Static p As Object
    On Error GoTo Failed
    If p Is Nothing Then Set p = CreateObject("Pelmora.Pelmora")
    Select Case LCase$(base)
        Case "uk": PelmoraCentile = p.custcentukn(bwt, gest, wt, ht, sex, eth, par)
        Case "swe": PelmoraCentile = p.custcentswe(bwt, gest, wt, ht, sex, eth, par)
        Case "nz": PelmoraCentile = p.custcentnz(bwt, gest, wt, ht, sex, eth, par)
        Case "au": PelmoraCentile = p.custcentau(bwt, gest, wt, ht, sex, eth, par)
        Case Else: PelmoraCentile = CVErr(2015)  ' #VALUE! in a worksheet
    End Select
    Exit Function
Failed:
    PelmoraCentile = CVErr(2015)
End Function
