Option ClassModule
Option Explicit

' PowerPoint's Application, as much of it as the macros' refusals read.
Public Presentations As Object
Public Windows As Object
Public ActiveWindow As Object
Public ActivePresentation As Object
