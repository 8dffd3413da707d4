Option ClassModule
Option Explicit

' A collection of PowerPoint's of which only the count is read.
Public Count As Long
