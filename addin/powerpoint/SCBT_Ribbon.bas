Attribute VB_Name = "SCBT_Ribbon"
' The Scribbet tab's buttons (customUI/customUI.xml names these Subs as their onAction).
' Each button measures the slide as it is shown now, puts that geometry answer and the
' button's tool into a scribbet://draw link, and has the ribbon helper open the link: an
' add-in inside PowerPoint's sandbox cannot open a link by itself, but AppleScriptTask may
' run a handler of a script the user put into PowerPoint's Application Scripts folder.
' Scribbet copies that script (Scribbet.scpt) there each time it starts.
Option Explicit

Private Const HELPER_SCRIPT As String = "Scribbet.scpt"
Private Const HELPER_HANDLER As String = "openLink"
Private Const TITLE As String = "Scribbet"
Private Const NOT_SET_UP As String = "Scribbet could not be started: install Scribbet and open it once, " & _
    "so that it puts its ribbon helper in place, then restart PowerPoint."
Private Const MAC_ONLY As String = "Scribbet draws on slides in PowerPoint for Mac only."

Public Sub SCBT_RibbonPen(control As IRibbonControl)
    RibbonDraw "pen"
End Sub

' Scribbet's page has a highlighter of its own; a Scribbet that does not know the name
' yet opens the pen instead, which the user can switch from on the page.
Public Sub SCBT_RibbonHighlighter(control As IRibbonControl)
    RibbonDraw "highlighter"
End Sub

Public Sub SCBT_RibbonLine(control As IRibbonControl)
    RibbonDraw "shape:line"
End Sub

Public Sub SCBT_RibbonRectangle(control As IRibbonControl)
    RibbonDraw "shape:rect"
End Sub

Public Sub SCBT_RibbonEllipse(control As IRibbonControl)
    RibbonDraw "shape:ellipse"
End Sub

Public Sub SCBT_RibbonSelect(control As IRibbonControl)
    RibbonDraw "select"
End Sub

Public Sub SCBT_RibbonEditPoints(control As IRibbonControl)
    RibbonDraw "direct"
End Sub

' Measures now, while the window the user pressed the button in is still the active one, so
' Scribbet need not ask for the geometry again before it opens its layer.
Private Sub RibbonDraw(ByVal tool As String)
    Dim geom As String
    If Not RibbonGeometry(geom) Then Exit Sub
    RibbonOpen "scribbet://draw?g=" & RibbonPercentEncode(geom) & "&tool=" & RibbonPercentEncode(tool)
End Sub

' True with the geometry answer's fields in geom, or the empty text when the answer could
' not be had for an unforeseen reason: Scribbet then asks SCBT_Geom itself and reports what
' goes wrong. False after telling the user the sentence of an "ERR|" answer (no active
' window, no slide shown, ...), which asking again would only repeat.
Private Function RibbonGeometry(ByRef geom As String) As Boolean
    Dim answer As String
    geom = ""
    On Error GoTo Unanswered
    answer = SCBT_Pen.SCBT_Geom()
    On Error GoTo 0
    If Left$(answer, 4) = "ERR|" Then
        MsgBox Mid$(answer, 5), vbExclamation, TITLE
        RibbonGeometry = False
        Exit Function
    End If
    If Left$(answer, 3) = "OK|" Then geom = Mid$(answer, 4)
    RibbonGeometry = True
    Exit Function
Unanswered:
    geom = ""
    RibbonGeometry = True
End Function

' AppleScriptTask raises an error when the helper script is missing from
' ~/Library/Application Scripts/com.microsoft.Powerpoint/, when it has no such handler,
' and when the system knows no application for scribbet:// links: in every case the cure is
' to install Scribbet and start it once.
Private Sub RibbonOpen(ByVal link As String)
#If Mac Then
    Dim reply As String
    On Error GoTo NotSetUp
    reply = AppleScriptTask(HELPER_SCRIPT, HELPER_HANDLER, link)
    Exit Sub
NotSetUp:
    MsgBox NOT_SET_UP, vbExclamation, TITLE
#Else
    MsgBox MAC_ONLY, vbExclamation, TITLE
#End If
End Sub

' Percent-encodes the UTF-8 bytes of text, leaving only RFC 3986's unreserved characters
' as they are, so that "|", "&", "+" and spaces reach Scribbet unchanged. A lone UTF-16
' surrogate, which has no UTF-8 form, becomes U+FFFD. What is sent today (the geometry
' answer's numbers and the tool names) is ASCII, where AscW is exact on every platform; the
' VBA reference warns only that older VBA for the Mac guessed the codes above 127.
Private Function RibbonPercentEncode(ByVal text As String) As String
    Dim out As String
    Dim i As Long
    Dim code As Long
    Dim low As Long
    i = 1
    Do While i <= Len(text)
        code = AscW(Mid$(text, i, 1)) And &HFFFF&
        If code >= &HD800& And code <= &HDFFF& Then
            low = 0
            If code <= &HDBFF& And i < Len(text) Then low = AscW(Mid$(text, i + 1, 1)) And &HFFFF&
            If low >= &HDC00& And low <= &HDFFF& Then
                code = &H10000 + (code - &HD800&) * &H400& + (low - &HDC00&)
                i = i + 1
            Else
                code = &HFFFD&
            End If
        End If
        out = out & RibbonEncodeCode(code)
        i = i + 1
    Loop
    RibbonPercentEncode = out
End Function

Private Function RibbonEncodeCode(ByVal code As Long) As String
    If code < &H80& Then
        If RibbonUnreserved(code) Then
            RibbonEncodeCode = ChrW(code)
        Else
            RibbonEncodeCode = RibbonByte(code)
        End If
    ElseIf code < &H800& Then
        RibbonEncodeCode = RibbonByte(&HC0& Or (code \ &H40&)) & RibbonByte(&H80& Or (code And &H3F&))
    ElseIf code < &H10000 Then
        RibbonEncodeCode = RibbonByte(&HE0& Or (code \ &H1000&)) & RibbonByte(&H80& Or ((code \ &H40&) And &H3F&)) & _
            RibbonByte(&H80& Or (code And &H3F&))
    Else
        RibbonEncodeCode = RibbonByte(&HF0& Or (code \ &H40000)) & RibbonByte(&H80& Or ((code \ &H1000&) And &H3F&)) & _
            RibbonByte(&H80& Or ((code \ &H40&) And &H3F&)) & RibbonByte(&H80& Or (code And &H3F&))
    End If
End Function

Private Function RibbonUnreserved(ByVal code As Long) As Boolean
    RibbonUnreserved = (code >= 65 And code <= 90) Or (code >= 97 And code <= 122) Or (code >= 48 And code <= 57) _
        Or code = 45 Or code = 46 Or code = 95 Or code = 126
End Function

Private Function RibbonByte(ByVal value As Long) As String
    RibbonByte = "%" & Right$("0" & Hex$(value), 2)
End Function
