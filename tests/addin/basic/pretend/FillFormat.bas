Option ClassModule
Option Explicit

Public Visible As Long
Public Transparency As Double
Public ForeColor As Object
Public Solids As Long

Private Sub Class_Initialize()
    Set ForeColor = New ColorFormat
End Sub

Public Sub Solid()
    Solids = Solids + 1
End Sub
