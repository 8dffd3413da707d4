Option ClassModule
Option Explicit

Public RGB As Long
Public ObjectThemeColor As Long
