' The products Windows Installer knows as installed whose name starts with the given text, one
' line each: the product code, its version and its name.
'   cscript //nologo products.vbs Pelmora
Option Explicit
Dim installer, code, name
Set installer = CreateObject("WindowsInstaller.Installer")
For Each code In installer.Products
    name = installer.ProductInfo(code, "ProductName")
    If Left(name, Len(WScript.Arguments(0))) = WScript.Arguments(0) Then
        WScript.Echo code & " " & installer.ProductInfo(code, "VersionString") & " " & name
    End If
Next
