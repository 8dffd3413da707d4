Option ClassModule
Option Explicit

Public Owner As Object
Public Nodes As Long

Public Sub AddNodes(ByVal segmentType As Long, ByVal editingType As Long, ByVal x1 As Double, ByVal y1 As Double, _
                    Optional ByVal x2 As Double, Optional ByVal y2 As Double, _
                    Optional ByVal x3 As Double, Optional ByVal y3 As Double)
    Nodes = Nodes + 1
End Sub

Public Function ConvertToShape() As Object
    Set ConvertToShape = Owner.NewShape(0, False)
End Function
