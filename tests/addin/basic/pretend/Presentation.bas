Option ClassModule
Option Explicit

Public Slides As Object
