Option ClassModule
Option Explicit

Public Visible As Long
Public Weight As Double
Public Transparency As Double
Public EndArrowheadStyle As Long
Public EndArrowheadLength As Long
Public EndArrowheadWidth As Long
Public ForeColor As Object

Private Sub Class_Initialize()
    Set ForeColor = New ColorFormat
End Sub
