Option ClassModule
Option Explicit

Public Id As Long
Public Name As String
Public Left As Double
Public Top As Double
Public Width As Double
Public Height As Double
Public Rotation As Double
Public HorizontalFlip As Long
Public VerticalFlip As Long
Public Line As Object
Public Fill As Object
Public Refuses As Boolean
Public Owner As Object

Private Sub Class_Initialize()
    Set Line = New LineFormat
    Set Fill = New FillFormat
End Sub

Public Sub Delete()
    If Refuses Then Err.Raise 1004, , "The shape is in use by another author."
    Owner.Remove Me
End Sub
