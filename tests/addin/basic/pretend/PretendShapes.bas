Option ClassModule
Option Explicit

' A slide's shapes: freeforms built through BuildFreeform get identifiers from 101 on.
Public Items As Collection
Private mNextId As Long

Private Sub Class_Initialize()
    Set Items = New Collection
    mNextId = 100
End Sub

Public Function BuildFreeform(ByVal editing As Long, ByVal x As Double, ByVal y As Double) As Object
    Dim builder As FreeformBuilder
    Set builder = New FreeformBuilder
    Set builder.Owner = Me
    Set BuildFreeform = builder
End Function

' A new shape on the slide; one with `refuses` cannot be deleted, as PowerPoint refuses to
' delete a shape another author has open.
Public Function NewShape(ByVal id As Long, ByVal refuses As Boolean) As Object
    Dim shp As Shape
    If id = 0 Then
        mNextId = mNextId + 1
        id = mNextId
    End If
    Set shp = New Shape
    shp.Id = id
    shp.Name = "Freeform " & id
    shp.Left = 1
    shp.Top = 2
    shp.Width = 3
    shp.Height = 4
    shp.Refuses = refuses
    Set shp.Owner = Me
    Items.Add shp
    Set NewShape = shp
End Function

Public Sub Remove(ByVal shp As Object)
    Dim i As Long
    For i = 1 To Items.Count
        If Items.Item(i).Id = shp.Id Then
            Items.Remove i
            Exit Sub
        End If
    Next i
End Sub

Public Function ById(ByVal id As Long) As Object
    Dim shp As Object
    For Each shp In Items
        If shp.Id = id Then Set ById = shp
    Next shp
End Function

' The identifiers on the slide, in the order the shapes came: "6,8,101".
Public Function Ids() As String
    Dim shp As Object, s As String
    For Each shp In Items
        s = s & "," & shp.Id
    Next shp
    Ids = Mid$(s, 2)
End Function
