Option ClassModule
Option Explicit

' A document window: its view type (PpViewType) and no slide showing.
Public ViewType As Long
