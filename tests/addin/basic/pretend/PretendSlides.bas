Option ClassModule
Option Explicit

' A presentation's slides: FindBySlideID notes what it was asked and finds nothing.
Public Asked As String

Public Function FindBySlideID(ByVal id As Long) As Object
    Asked = Asked & "," & id
    Set FindBySlideID = Nothing
End Function
