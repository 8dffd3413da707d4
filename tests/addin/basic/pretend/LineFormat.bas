Option ClassModule
Option Explicit

Public Visible As Long
Public Weight As Double
Public Transparency As Double
Public ForeColor As Object

Private Sub Class_Initialize()
    Set ForeColor = New ColorFormat
End Sub
