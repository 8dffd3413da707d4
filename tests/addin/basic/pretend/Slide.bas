Option ClassModule
Option Explicit

Public Shapes As Object

Private Sub Class_Initialize()
    Set Shapes = New PretendShapes
End Sub
