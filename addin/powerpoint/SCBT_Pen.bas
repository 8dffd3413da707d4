Attribute VB_Name = "SCBT_Pen"
Option Explicit

' Scribbet's macros in PowerPoint. Scribbet runs each one by an Apple event ("SCBT_Pen." and
' the macro's name, its arguments as texts) and reads the text it returns: "OK", "OK|" and
' fields, or "ERR|" and one sentence that Scribbet shows the user. Every macro checks what it
' is given before it changes anything, and a macro that fails part way undoes what it did.
' Numbers go out with a decimal point whatever the Mac's region says (SCBT_Text.Num).

' Stamped from Scribbet's own version when the add-in is packaged, so that Scribbet can tell
' an add-in of another release. (Not named after the macro SCBT_Version: VBA refuses a
' constant and a procedure of one name in one module.)
Private Const ADDIN_VERSION As String = "0.1.0"

Private Const MAX_PICTURE_WIDTH As Double = 8192
Private Const MAX_LINE_WEIGHT As Double = 1584 ' the heaviest outline PowerPoint allows

' Where the drawing page's "upgrade" and "support" links lead: the release and support pages,
' stamped in when the add-in is packaged (scripts/addin/package.py holds the addresses). Empty
' in the source, and then a link answers with a note instead of opening anything.
Private Const UPGRADE_ADDRESS As String = ""
Private Const SUPPORT_ADDRESS As String = ""

' How a shape's outline or inside is coloured: "#RRGGBB", "#RRGGBBAA" (AA the opacity),
' "theme:N" (the N-th theme colour, 1-12, kept linked to the theme) or "none".
Private Const PAINT_NONE As Long = 0
Private Const PAINT_RGB As Long = 1
Private Const PAINT_THEME As Long = 2

Private Type Paint
    kind As Long
    colour As Long  ' as RGB() makes it, for PAINT_RGB
    opacity As Long ' 0-255, for PAINT_RGB
    theme As Long   ' 1-12, the MsoThemeColorIndex of the colour, for PAINT_THEME
End Type

' ---------------------------------------------------------------------------------------
' The macros

' Where the current slide lies on the screen and how PowerPoint shows it, as "|"-separated
' numbers: slide width and height (points); the slide's left, top, right and bottom on the
' screen (as PointsToScreenPixelsX/Y give them); the zoom; the window's left, top, width and
' height; the slide's identifier; Fit (1 or 0); the slide pane's share of the height; the
' presentation's key (PresentationKey), which SCBT_Insert takes back.
Public Function SCBT_Geom() As String
    SCBT_Geom = GeometryAnswer()
End Function

' The same answer; Scribbet polls it while PowerPoint settles after a zoom change.
Public Function SCBT_Where() As String
    SCBT_Where = GeometryAnswer()
End Function

' Sets the active window's slide pane to Fit and answers "OK|" and the zoom it shows then.
Public Function SCBT_Zoom(ByVal how As String) As String
    Dim win As DocumentWindow, sld As Slide, problem As String, was As Pane
    If SCBT_Text.TrimBlank(how) <> "fit" Then
        SCBT_Zoom = Refuse("The add-in cannot set the zoom to """ & how & """.")
        Exit Function
    End If
    problem = FindView(win, sld)
    If Len(problem) > 0 Then
        SCBT_Zoom = Refuse(problem)
        Exit Function
    End If
    Set was = SlidePaneFirst(win)
    On Error GoTo Failed
    win.View.ZoomToFit = msoTrue
    SCBT_Zoom = "OK|" & SCBT_Text.Num(win.View.Zoom)
    GiveFocusBack was
    Exit Function
Failed:
    SCBT_Zoom = Refuse("PowerPoint did not set the view to Fit (" & Reason() & ").")
    GiveFocusBack was
End Function

Public Function SCBT_Version() As String
    SCBT_Version = "OK|" & ADDIN_VERSION
End Function

' The current slide as a PNG picture `pixels` wide: "OK|" slide number|width|height (points)|
' the picture in Base64.
Public Function SCBT_Slide(ByVal pixels As String) As String
    Dim win As DocumentWindow, sld As Slide, problem As String
    Dim pictureW As Double, pictureH As Double, slideW As Double, slideH As Double
    Dim file As String, data() As Byte, count As Long

    If Not SCBT_Text.ReadWhole(SCBT_Text.TrimBlank(pixels), pictureW) Then pictureW = 0
    If pictureW < 1 Or pictureW > MAX_PICTURE_WIDTH Then
        SCBT_Slide = Refuse("The picture width must be a whole number of pixels from 1 to 8192.")
        Exit Function
    End If
    problem = FindView(win, sld)
    If Len(problem) > 0 Then
        SCBT_Slide = Refuse(problem)
        Exit Function
    End If

    On Error GoTo Failed
    slideW = win.Presentation.PageSetup.SlideWidth
    slideH = win.Presentation.PageSetup.SlideHeight
    pictureH = Int(pictureW * slideH / slideW + 0.5)
    If pictureH > MAX_PICTURE_WIDTH Then
        SCBT_Slide = Refuse("The slide picture would be more than 8192 pixels tall.")
        Exit Function
    End If
    If pictureH < 1 Then pictureH = 1

    file = ScratchFile("png")
    sld.Export file, "PNG", CLng(pictureW), CLng(pictureH)
    count = ReadFileBytes(file, data)
    RemoveFile file
    If count <= 0 Then
        SCBT_Slide = Refuse("The slide picture could not be made.")
        Exit Function
    End If
    SCBT_Slide = "OK|" & Trim$(Str$(sld.SlideIndex)) & "|" & SCBT_Text.Num(slideW) & "|" & _
                 SCBT_Text.Num(slideH) & "|" & SCBT_Base64.Encode(data, count)
    Exit Function
Failed:
    problem = Reason()
    If Len(file) > 0 Then RemoveFile file
    SCBT_Slide = Refuse("The slide picture could not be made (" & problem & ").")
End Function

' The twelve theme colours of the current slide's master as #RRGGBB, "|"-separated: dark 1,
' light 1, dark 2, light 2, accent 1-6, hyperlink, followed hyperlink.
Public Function SCBT_Theme() As String
    Dim win As DocumentWindow, sld As Slide, problem As String
    Dim scheme As ThemeColorScheme, i As Long, out As String
    problem = FindView(win, sld)
    If Len(problem) > 0 Then
        SCBT_Theme = Refuse(problem)
        Exit Function
    End If
    Set scheme = SlideColours(sld)
    If scheme Is Nothing Then
        SCBT_Theme = Refuse("PowerPoint did not give the slide's theme colours.")
        Exit Function
    End If
    On Error GoTo Failed
    For i = 1 To 12 ' msoThemeDark1 ... msoThemeFollowedHyperlink
        If i > 1 Then out = out & "|"
        out = out & SCBT_Text.HexColour(scheme.Colors(i).RGB)
    Next i
    SCBT_Theme = "OK|" & out
    Exit Function
Failed:
    SCBT_Theme = Refuse("PowerPoint did not give the slide's theme colours (" & Reason() & ").")
End Function

' Places the drawing: each subpath of `pathText` becomes one freeform on the slide whose
' identifier is `slideId` (the current slide when empty), outlined with `stroke` at
' `lineWidth` points and filled with `fill`; then the shapes whose identifiers `replaceIds`
' lists (comma-separated) are removed. A blank path with shapes to replace only removes them.
' Everything is checked before the slide changes. Answers "OK|" and the count, then a line
' per placed shape: k (the subpath's place, from 0), name, id, left, top, width, height,
' rotation, flipped horizontally, flipped vertically (TAB-separated); then "kept" and the id
' of each replaced shape PowerPoint would not delete once others were gone (see PlaceParts).
' `presentationKey` is the geometry answer's last field: the slide is looked up in that
' presentation, whichever is active now; empty or left out (an add-in of this version may be
' called by a caller that sends six), in the active window's. A Variant: IsMissing tells only
' a Variant left out, and not every Basic gives a typed optional its default.
Public Function SCBT_Insert(ByVal pathText As String, ByVal stroke As String, ByVal lineWidth As String, _
                            ByVal fill As String, ByVal replaceIds As String, ByVal slideId As String, _
                            Optional ByVal presentationKey As Variant, Optional ByVal arrowhead As Variant) As String
    Dim parts() As PathPart, partCount As Long, problem As String
    Dim strokePaint As Paint, fillPaint As Paint, weight As Double
    Dim sld As Slide, doomed As Collection, key As String, head As String, headed As Boolean

    ' No path but shapes to replace: the drawing's items were deleted, so their shapes go and
    ' nothing new comes. With nothing to replace either, an empty path is refused as text.
    If HasOtherThan(pathText, " " & vbTab & vbCr & vbLf & Chr$(12)) Or _
       Not HasOtherThan(replaceIds, " " & vbTab & vbCr & vbLf & ",") Then
        problem = SCBT_Path.Parse(pathText, parts, partCount)
        If Len(problem) > 0 Then
            SCBT_Insert = Refuse(problem)
            Exit Function
        End If
    End If
    If Not ReadPaint(SCBT_Text.TrimBlank(stroke), strokePaint) Then
        SCBT_Insert = Refuse("The outline colour """ & stroke & """ is not one the add-in knows.")
        Exit Function
    End If
    If Not ReadPaint(SCBT_Text.TrimBlank(fill), fillPaint) Then
        SCBT_Insert = Refuse("The fill colour """ & fill & """ is not one the add-in knows.")
        Exit Function
    End If
    If Not SCBT_Text.ReadDecimal(SCBT_Text.TrimBlank(lineWidth), weight) Then weight = -1
    If weight < 0 Or weight > MAX_LINE_WEIGHT Then
        SCBT_Insert = Refuse("The line width """ & lineWidth & """ is not a number of points from 0 to 1584.")
        Exit Function
    End If
    ' The line end of every freeform this call makes: PowerPoint's own triangle arrowhead, so
    ' that an arrow is one shape the presenter recolours and moves as one.
    If Not IsMissing(arrowhead) Then head = SCBT_Text.TrimBlank(arrowhead)
    If head = "triangle" Then
        headed = True
    ElseIf Len(head) > 0 And head <> "none" Then
        SCBT_Insert = Refuse("The arrowhead """ & arrowhead & """ is not one the add-in knows.")
        Exit Function
    End If
    If Not IsMissing(presentationKey) Then key = presentationKey
    problem = FindSlide(SCBT_Text.TrimBlank(slideId), key, sld)
    If Len(problem) > 0 Then
        SCBT_Insert = Refuse(problem)
        Exit Function
    End If
    Set doomed = New Collection
    problem = FindReplaced(sld, replaceIds, doomed)
    If Len(problem) > 0 Then
        SCBT_Insert = Refuse(problem)
        Exit Function
    End If
    SCBT_Insert = PlaceParts(sld, parts, partCount, strokePaint, weight, fillPaint, doomed, headed)
End Function

' What this add-in can do beyond the first macros, one word a field. Scribbet asks before it
' sends an arrow as one shape: an add-in from before arrowheads has no such macro, and gets
' the arrow as a shaft and a filled head.
Public Function SCBT_Features() As String
    SCBT_Features = "OK|arrowhead"
End Function

' What the drawing page's link `linkId` ("upgrade", "support") does: opens its address in
' the browser through the ribbon helper and answers "OK|opened"; when the helper cannot, or
' this copy has no address for the link, answers "OK|soon|" and a note the page shows. Nothing
' has failed then, so it is never an "ERR|": only a link the add-in does not know is refused.
Public Function SCBT_LinkQuery(ByVal linkId As String) As String
    Dim address As String
    If Not LinkAddress(linkId, address) Then
        SCBT_LinkQuery = Refuse("The add-in has no link called """ & linkId & """.")
        Exit Function
    End If
    If Not IsWebAddress(address) Then
        SCBT_LinkQuery = "OK|soon|This copy of the add-in has no address for the " & linkId & " link yet."
    ElseIf OpenAddress(address) Then
        SCBT_LinkQuery = "OK|opened"
    Else
        SCBT_LinkQuery = "OK|soon|Open " & SCBT_Text.OneField(address) & " in your browser."
    End If
End Function

' ---------------------------------------------------------------------------------------
' The window, the slide and the answers

Private Function Refuse(ByVal sentence As String) As String
    Refuse = "ERR|" & sentence
End Function

' The last error's description, fit to stand inside a sentence.
Private Function Reason() As String
    Dim s As String
    s = SCBT_Text.TrimBlank(SCBT_Text.OneField(Err.Description))
    Do While Right$(s, 1) = "."
        s = Left$(s, Len(s) - 1)
    Loop
    If Len(s) = 0 Then s = "error " & Trim$(Str$(Err.Number))
    Reason = s
End Function

' The active document window and the slide it shows, or the sentence saying why there are
' none: no presentation, no window, or a view other than Normal.
Private Function FindView(ByRef win As DocumentWindow, ByRef sld As Slide) As String
    On Error GoTo NoWindow
    If Application.Presentations.Count = 0 Then
        FindView = "There is no presentation open in PowerPoint."
        Exit Function
    End If
    If Application.Windows.Count = 0 Then
        FindView = "PowerPoint has no window showing a presentation."
        Exit Function
    End If
    Set win = Application.ActiveWindow
    If Not ShowsSlides(win) Then
        FindView = "PowerPoint's window is not in Normal view: choose View > Normal to draw on a slide."
        Exit Function
    End If
    Set sld = ShownSlide(win)
    If sld Is Nothing Then FindView = "There is no slide showing in PowerPoint's window."
    Exit Function
NoWindow:
    FindView = "PowerPoint has no window showing a presentation."
End Function

' Whether a window is in Normal (or slide) view. The thumbnails are a pane of the Normal view
' only: with them focused it is Normal view.
Private Function ShowsSlides(ByVal win As DocumentWindow) As Boolean
    Dim kind As Long
    kind = win.ViewType
    ShowsSlides = (kind = ppViewNormal Or kind = ppViewSlide Or kind = ppViewThumbnails)
End Function

' The slide a Normal-view window shows. View.Slide fails while another pane (thumbnails,
' notes) has the focus; the selection's slide is the same slide then.
Private Function ShownSlide(ByVal win As DocumentWindow) As Slide
    Dim sld As Slide
    On Error Resume Next
    Set sld = win.View.Slide
    If sld Is Nothing Then
        Err.Clear
        Set sld = win.Selection.SlideRange(1)
    End If
    On Error GoTo 0
    Set ShownSlide = sld
End Function

Private Function GeometryAnswer() As String
    Dim win As DocumentWindow, sld As Slide, problem As String, was As Pane
    Dim w As Double, h As Double, out As String, fit As String
    problem = FindView(win, sld)
    If Len(problem) > 0 Then
        GeometryAnswer = Refuse(problem)
        Exit Function
    End If
    Set was = SlidePaneFirst(win)
    On Error GoTo Failed
    w = win.Presentation.PageSetup.SlideWidth
    h = win.Presentation.PageSetup.SlideHeight
    out = SCBT_Text.Num(w) & "|" & SCBT_Text.Num(h)
    out = out & "|" & SCBT_Text.Num(win.PointsToScreenPixelsX(0)) & "|" & SCBT_Text.Num(win.PointsToScreenPixelsY(0))
    out = out & "|" & SCBT_Text.Num(win.PointsToScreenPixelsX(w)) & "|" & SCBT_Text.Num(win.PointsToScreenPixelsY(h))
    out = out & "|" & SCBT_Text.Num(win.View.Zoom)
    out = out & "|" & WindowRect(win)
    fit = "0"
    If win.View.ZoomToFit = msoTrue Then fit = "1"
    out = out & "|" & Trim$(Str$(sld.SlideID)) & "|" & fit & "|" & SCBT_Text.Num(SlidePaneShare(win))
    out = out & "|" & PresentationKey(win.Presentation)
    GeometryAnswer = "OK|" & out
    GiveFocusBack was
    Exit Function
Failed:
    GeometryAnswer = Refuse("PowerPoint did not say where the slide is (" & Reason() & ").")
    GiveFocusBack was
End Function

' The document window's left, top, width and height in global screen points ("|"-separated).
' DocumentWindow.Left and Top are measured from the application window's client area, not
' from the screen. Application.Left and Top place the application window itself, measured from
' the top left corner of the main screen, y downward (their page repeats the document
' window's sentence, but the application window has no other edge to be measured from). So
' the window's place on the screen is the sum. On the Mac, where no application window holds
' the document windows, that is the document window's place whichever of the two carries it.
Private Function WindowRect(ByVal win As DocumentWindow) As String
    Dim x As Double, y As Double
    x = win.Left + Application.Left
    y = win.Top + Application.Top
    WindowRect = SCBT_Text.Num(x) & "|" & SCBT_Text.Num(y) & "|" & SCBT_Text.Num(win.Width) & "|" & _
                 SCBT_Text.Num(win.Height)
End Function

' In Normal view the window's View (its Zoom, its ZoomToFit) is the active pane's: after a
' click on the thumbnails it is the thumbnail strip's. So the slide pane (the pane whose
' ViewType is ppViewSlide; Panes lists the thumbnails or outline, the slide, the notes) is made
' the active one for the reading, and the pane that had the focus is answered, for
' GiveFocusBack; Nothing when the slide pane had it already, or the view has no such pane.
Private Function SlidePaneFirst(ByVal win As DocumentWindow) As Pane
    Dim was As Pane, i As Long
    On Error GoTo Done
    If win.Panes.Count < 2 Then Exit Function ' a view of one pane: the window is the pane
    Set was = win.ActivePane
    If was.ViewType = ppViewSlide Then Exit Function
    For i = 1 To win.Panes.Count
        If win.Panes(i).ViewType = ppViewSlide Then
            win.Panes(i).Activate
            Set SlidePaneFirst = was
            Exit Function
        End If
    Next i
Done:
End Function

' Gives the focus back to the pane SlidePaneFirst took it from.
Private Sub GiveFocusBack(ByVal was As Pane)
    If was Is Nothing Then Exit Sub
    On Error Resume Next
    was.Activate
    On Error GoTo 0
End Sub

' How the geometry answer names a presentation, and SCBT_Insert finds it again: its FullName
' (the saved file's path and name, or the name of one never saved, such as "Presentation2"),
' with "%", "|", TAB, CR and LF written %25, %7C, %09, %0D and %0A so that it stays one field.
' FullName is unique among the open presentations and lasts as long as the presentation stays
' open under its name (after a Save As while drawing the drawing is refused, never placed
' elsewhere). A tag of our own would outlast a Save As, but setting it marks the presentation
' as changed, it is saved with the file, and a copy of the file opened beside it carries it too.
Public Function PresentationKey(ByVal pres As Presentation) As String
    Dim s As String
    s = Replace(pres.FullName, "%", "%25")
    s = Replace(s, "|", "%7C")
    s = Replace(s, vbTab, "%09")
    s = Replace(s, vbCr, "%0D")
    PresentationKey = Replace(s, vbLf, "%0A")
End Function

' The slide pane's percentage of the window's height (the rest is the notes pane); 100 when
' PowerPoint does not say.
Private Function SlidePaneShare(ByVal win As DocumentWindow) As Double
    Dim share As Double
    share = 100
    On Error Resume Next
    share = win.SplitVertical
    On Error GoTo 0
    If share <= 0 Or share > 100 Then share = 100
    SlidePaneShare = share
End Function

' The theme colours of the slide's master, or of the slide itself when its master gives none.
Private Function SlideColours(ByVal sld As Slide) As ThemeColorScheme
    Dim scheme As ThemeColorScheme
    On Error Resume Next
    Set scheme = sld.Master.Theme.ThemeColorScheme
    If scheme Is Nothing Then
        Err.Clear
        Set scheme = sld.ThemeColorScheme
    End If
    On Error GoTo 0
    Set SlideColours = scheme
End Function

' The slide with the identifier `idText`, or the current slide when it is empty; otherwise
' the sentence saying why there is none. `key` names the presentation (PresentationKey) the
' drawing was made on: slide identifiers start at 256 in every presentation, so the slide is
' looked up in that one alone, whichever is active now, and without its window if it has none.
' With no key, in the presentation of the active window, the one Scribbet drew over: with no
' window at all there is no telling which presentation that was, and ActivePresentation has
' none to give. Every object-model read is under the error handler: an error escaping here
' would hold up Scribbet's call behind PowerPoint's alert.
Private Function FindSlide(ByVal idText As String, ByVal key As String, ByRef sld As Slide) As String
    Dim win As DocumentWindow, id As Double, pres As Presentation
    On Error GoTo NoWindow
    If Len(key) > 0 Then
        FindSlide = FindPresentation(key, pres)
        If Len(FindSlide) > 0 Then Exit Function
        If Len(idText) = 0 Then
            FindSlide = PresentationSlide(pres, sld)
            Exit Function
        End If
    ElseIf Len(idText) = 0 Then
        FindSlide = FindView(win, sld)
        Exit Function
    ElseIf Application.Presentations.Count = 0 Then
        FindSlide = "There is no presentation open in PowerPoint."
        Exit Function
    ElseIf Application.Windows.Count = 0 Then
        FindSlide = "PowerPoint has no window showing a presentation."
        Exit Function
    Else
        Set pres = Application.ActivePresentation
    End If
    If SCBT_Text.ReadWhole(idText, id) Then
        If id >= 1 And id <= 2147483647# Then
            On Error Resume Next
            Set sld = pres.Slides.FindBySlideID(CLng(id))
            On Error GoTo 0
        End If
    End If
    If sld Is Nothing Then FindSlide = "There is no slide with the identifier " & idText & "."
    Exit Function
NoWindow:
    FindSlide = "PowerPoint has no window showing a presentation."
End Function

' The open presentation whose PresentationKey is `key`, into `pres`; or the sentence saying
' that none is open under it any more, or that more than one is.
Private Function FindPresentation(ByVal key As String, ByRef pres As Presentation) As String
    Dim candidate As Presentation, found As Long
    On Error GoTo Failed
    For Each candidate In Application.Presentations
        If StrComp(PresentationKey(candidate), key, vbBinaryCompare) = 0 Then
            Set pres = candidate
            found = found + 1
        End If
    Next candidate
    If found = 0 Then
        FindPresentation = "The presentation you drew on is no longer open in PowerPoint, so the drawing was not placed."
    ElseIf found > 1 Then
        FindPresentation = "More than one open presentation is called """ & key & _
                           """, so the add-in cannot tell which one the drawing belongs to."
    End If
    Exit Function
Failed:
    FindPresentation = "PowerPoint did not list its open presentations (" & Reason() & ")."
End Function

' The slide the presentation's window shows: the active window's when that window is the
' presentation's (with its refusals for a view without slides), else its first window's.
Private Function PresentationSlide(ByVal pres As Presentation, ByRef sld As Slide) As String
    Dim win As DocumentWindow
    On Error GoTo NoWindow
    If Application.Windows.Count > 0 Then
        ' Compared by key, not with Is: two references to one presentation need not be one object.
        If StrComp(PresentationKey(Application.ActiveWindow.Presentation), PresentationKey(pres), vbBinaryCompare) = 0 Then
            PresentationSlide = FindView(win, sld)
            Exit Function
        End If
    End If
    If pres.Windows.Count = 0 Then GoTo NoWindow
    Set win = pres.Windows(1)
    If Not ShowsSlides(win) Then
        PresentationSlide = "The window of the presentation you drew on is not in Normal view: choose View > Normal to draw on a slide."
        Exit Function
    End If
    Set sld = ShownSlide(win)
    If sld Is Nothing Then PresentationSlide = "There is no slide showing in the window of the presentation you drew on."
    Exit Function
NoWindow:
    PresentationSlide = "The presentation you drew on has no window showing a slide."
End Function

' The shapes `listText` names (identifiers, comma-separated) on `sld`, each once, into
' `found`; or the sentence naming the first that is not there.
Private Function FindReplaced(ByVal sld As Slide, ByVal listText As String, ByVal found As Collection) As String
    Dim pieces() As String, i As Long, piece As String, id As Double, shp As Shape, seen As String
    pieces = Split(listText, ",")
    seen = ","
    For i = LBound(pieces) To UBound(pieces)
        piece = SCBT_Text.TrimBlank(pieces(i))
        If Len(piece) > 0 Then
            Set shp = Nothing
            If SCBT_Text.ReadWhole(piece, id) Then Set shp = ShapeById(sld, id)
            If shp Is Nothing Then
                FindReplaced = "There is no shape with the identifier " & piece & " on that slide."
                Exit Function
            End If
            If InStr(1, seen, "," & Trim$(Str$(shp.Id)) & ",", vbBinaryCompare) = 0 Then
                found.Add shp
                seen = seen & Trim$(Str$(shp.Id)) & ","
            End If
        End If
    Next i
End Function

Private Function ShapeById(ByVal sld As Slide, ByVal id As Double) As Shape
    Dim shp As Shape
    For Each shp In sld.Shapes
        If shp.Id = id Then
            Set ShapeById = shp
            Exit Function
        End If
    Next shp
End Function

' Adds the freeforms, then removes the replaced shapes. When PowerPoint fails while adding,
' or refuses to delete the first replaced shape, the shapes this call added are deleted again
' and the answer is "ERR|": the slide is as it was. A refusal after other replaced shapes are
' gone cannot be undone (a deleted shape does not come back with its identifier), so the
' drawing stays and the answer ends with a "kept" line for each shape still on the slide.
Private Function PlaceParts(ByVal sld As Slide, parts() As PathPart, ByVal partCount As Long, _
                            ByRef strokePaint As Paint, ByVal weight As Double, ByRef fillPaint As Paint, _
                            ByVal doomed As Collection, ByVal headed As Boolean) As String
    Dim added As Collection, shp As Shape, k As Long, lines As String, why As String
    Dim removed As Long, kept As String, keptId As String
    Set added = New Collection
    On Error GoTo Failed
    For k = 1 To partCount
        Set shp = BuildPart(sld, parts(k))
        added.Add shp
        StyleOutline shp, strokePaint, weight
        StyleFill shp, fillPaint
        If headed Then EndInArrowhead shp
        lines = lines & vbLf & PlacedLine(k - 1, shp)
    Next k
    On Error GoTo 0
    ' The old shapes go only once the new ones are in.
    For Each shp In doomed
        If DeleteShape(shp, keptId, why) Then
            removed = removed + 1
        ElseIf removed = 0 Then
            RemoveAll added
            PlaceParts = Refuse("PowerPoint would not remove the shape with the identifier " & keptId & _
                                ", so the slide is left as it was (" & why & ").")
            Exit Function
        Else
            kept = kept & "," & keptId
        End If
    Next shp
    PlaceParts = InsertAnswer(partCount, lines, kept)
    Exit Function
Failed:
    why = Reason()
    Resume Undo ' leaves the error handler, so that a failing delete below is only skipped
Undo:
    RemoveAll added
    PlaceParts = Refuse("PowerPoint could not place the drawing (" & why & ").")
End Function

' Deletes the shape and answers true; false when PowerPoint refuses, with `why`. `id` is the
' shape's identifier, read first, as the shape has none once it is gone.
Private Function DeleteShape(ByVal shp As Shape, ByRef id As String, ByRef why As String) As Boolean
    id = "?"
    On Error GoTo Refused
    id = Trim$(Str$(shp.Id))
    shp.Delete
    DeleteShape = True
    Exit Function
Refused:
    why = Reason() ' here, while Err still holds PowerPoint's refusal
End Function

Private Sub RemoveAll(ByVal shapes As Collection)
    Dim shp As Shape
    On Error Resume Next
    For Each shp In shapes
        shp.Delete
    Next shp
    On Error GoTo 0
End Sub

' The insert's answer: the count and the placed lines, then "kept" and the identifier of each
' replaced shape PowerPoint would not delete (`kept` lists them, each after a comma).
Private Function InsertAnswer(ByVal partCount As Long, ByVal lines As String, ByVal kept As String) As String
    Dim out As String, ids() As String, i As Long
    out = "OK|" & Trim$(Str$(partCount)) & lines
    ids = Split(kept, ",")
    For i = LBound(ids) To UBound(ids)
        If Len(ids(i)) > 0 Then out = out & vbLf & "kept" & vbTab & ids(i)
    Next i
    InsertAnswer = out
End Function

' One subpath as a freeform: lines as line segments, each C as one cubic segment with its
' two control points; a closed subpath ends where it began, which closes the freeform.
Private Function BuildPart(ByVal sld As Slide, ByRef part As PathPart) As Shape
    Dim builder As FreeformBuilder, i As Long, lastX As Double, lastY As Double
    Set builder = sld.Shapes.BuildFreeform(msoEditingCorner, part.startX, part.startY)
    For i = 1 To part.segCount
        If part.segs(i).curve Then
            builder.AddNodes msoSegmentCurve, msoEditingCorner, part.segs(i).x1, part.segs(i).y1, _
                             part.segs(i).x2, part.segs(i).y2, part.segs(i).x, part.segs(i).y
        Else
            builder.AddNodes msoSegmentLine, msoEditingAuto, part.segs(i).x, part.segs(i).y
        End If
        lastX = part.segs(i).x
        lastY = part.segs(i).y
    Next i
    If part.closed And (lastX <> part.startX Or lastY <> part.startY) Then
        builder.AddNodes msoSegmentLine, msoEditingAuto, part.startX, part.startY
    End If
    Set BuildPart = builder.ConvertToShape
End Function

Private Sub StyleOutline(ByVal shp As Shape, ByRef p As Paint, ByVal weight As Double)
    ' A 0-point outline draws nothing; PowerPoint would show its thinnest line instead.
    If p.kind = PAINT_NONE Or weight = 0 Then
        shp.Line.Visible = msoFalse
        Exit Sub
    End If
    shp.Line.Visible = msoTrue
    shp.Line.Weight = weight
    If p.kind = PAINT_THEME Then
        shp.Line.ForeColor.ObjectThemeColor = p.theme
        shp.Line.Transparency = 0
    Else
        shp.Line.ForeColor.RGB = p.colour
        shp.Line.Transparency = 1 - p.opacity / 255
    End If
End Sub

'' PowerPoint's triangle at the line's end, of the middle size, which grows with the line's weight.
Private Sub EndInArrowhead(ByVal shp As Shape)
    shp.Line.EndArrowheadStyle = msoArrowheadTriangle
    shp.Line.EndArrowheadLength = msoArrowheadLengthMedium
    shp.Line.EndArrowheadWidth = msoArrowheadWidthMedium
End Sub

Private Sub StyleFill(ByVal shp As Shape, ByRef p As Paint)
    If p.kind = PAINT_NONE Then
        shp.Fill.Visible = msoFalse
        Exit Sub
    End If
    shp.Fill.Visible = msoTrue
    shp.Fill.Solid
    If p.kind = PAINT_THEME Then
        shp.Fill.ForeColor.ObjectThemeColor = p.theme
        shp.Fill.Transparency = 0
    Else
        shp.Fill.ForeColor.RGB = p.colour
        shp.Fill.Transparency = 1 - p.opacity / 255
    End If
End Sub

Private Function PlacedLine(ByVal k As Long, ByVal shp As Shape) As String
    Dim flipH As String, flipV As String
    flipH = "0"
    flipV = "0"
    If shp.HorizontalFlip = msoTrue Then flipH = "1"
    If shp.VerticalFlip = msoTrue Then flipV = "1"
    PlacedLine = Trim$(Str$(k)) & vbTab & OneLine(shp.Name) & vbTab & Trim$(Str$(shp.Id)) & vbTab & _
                 SCBT_Text.Num(shp.Left) & vbTab & SCBT_Text.Num(shp.Top) & vbTab & _
                 SCBT_Text.Num(shp.Width) & vbTab & SCBT_Text.Num(shp.Height) & vbTab & _
                 SCBT_Text.Num(shp.Rotation) & vbTab & flipH & vbTab & flipV
End Function

' A shape's name inside one TAB-separated field of one line.
Private Function OneLine(ByVal s As String) As String
    OneLine = Replace(Replace(Replace(s, vbTab, " "), vbCr, " "), vbLf, " ")
End Function

Private Function ReadPaint(ByVal text As String, ByRef p As Paint) As Boolean
    Dim n As Double, v As Double
    p.kind = PAINT_NONE
    p.opacity = 255
    If LCase$(text) = "none" Then
        ReadPaint = True
    ElseIf Len(text) > 6 And LCase$(Left$(text, 6)) = "theme:" Then
        If SCBT_Text.ReadWhole(Mid$(text, 7), n) Then
            If n >= 1 And n <= 12 Then
                p.kind = PAINT_THEME
                p.theme = CLng(n) ' msoThemeColorDark1 (1) ... msoThemeColorFollowedHyperlink (12)
                ReadPaint = True
            End If
        End If
    ElseIf (Len(text) = 7 Or Len(text) = 9) And Left$(text, 1) = "#" Then
        v = SCBT_Text.HexValue(Mid$(text, 2, 6))
        If v >= 0 Then
            p.kind = PAINT_RGB
            p.colour = RGB(Int(v / 65536) Mod 256, Int(v / 256) Mod 256, v - Int(v / 256) * 256)
            If Len(text) = 9 Then p.opacity = SCBT_Text.HexValue(Mid$(text, 8, 2))
            ReadPaint = p.opacity >= 0
        End If
    End If
End Function

' Whether `s` has a character that is not among `chars`.
Private Function HasOtherThan(ByVal s As String, ByVal chars As String) As Boolean
    Dim i As Long
    For i = 1 To Len(s)
        If InStr(1, chars, Mid$(s, i, 1), vbBinaryCompare) = 0 Then
            HasOtherThan = True
            Exit Function
        End If
    Next i
End Function

' ---------------------------------------------------------------------------------------
' Links and files

' The address of the link `linkId` ("" when this copy has none); false for a link the page
' may not ask for.
Private Function LinkAddress(ByVal linkId As String, ByRef address As String) As Boolean
    If StrComp(linkId, "upgrade", vbBinaryCompare) = 0 Then
        address = UPGRADE_ADDRESS
        LinkAddress = True
    ElseIf StrComp(linkId, "support", vbBinaryCompare) = 0 Then
        address = SUPPORT_ADDRESS
        LinkAddress = True
    End If
End Function

' Only a web page is handed to the browser, and only one written as a link is written (no
' blank, quote or character outside printable ASCII): the helper would open a file or another
' application's link just as readily.
Private Function IsWebAddress(ByVal address As String) As Boolean
    Dim lower As String, i As Long, code As Long
    lower = LCase$(address)
    If Left$(lower, 8) = "https://" Then
        IsWebAddress = Len(address) > 8
    ElseIf Left$(lower, 7) = "http://" Then
        IsWebAddress = Len(address) > 7
    End If
    For i = 1 To Len(address)
        code = AscW(Mid$(address, i, 1))
        If code <= 32 Or code > 126 Or code = 34 Then IsWebAddress = False
    Next i
End Function

' Opens an address in the browser through the ribbon helper (the add-in's sandbox lets it
' reach other applications only through AppleScriptTask); false when that fails.
Private Function OpenAddress(ByVal address As String) As Boolean
    On Error GoTo Failed
#If Mac Then
    AppleScriptTask "Scribbet.scpt", "openLink", address
    OpenAddress = True
#End If
Failed:
End Function

' A new file name in a folder PowerPoint's sandbox may write: its own temporary folder.
Private Function ScratchFile(ByVal extension As String) As String
    Dim folder As String, sep As String
    sep = SCBT_Text.PathSeparator()
    folder = Environ$("TMPDIR")
    If Len(folder) = 0 Then folder = Environ$("HOME") & sep & "Library" & sep & "Caches"
    If Right$(folder, 1) = sep Then folder = Left$(folder, Len(folder) - 1)
    Randomize
    ScratchFile = folder & sep & "scribbet-" & Trim$(Str$(Int(Timer * 1000))) & "-" & _
                  Trim$(Str$(Int(Rnd * 1000000))) & "." & extension
End Function

' The file's bytes into `data` (from 0); answers how many, 0 when it cannot be read.
Public Function ReadFileBytes(ByVal file As String, data() As Byte) As Long
    Dim f As Integer, count As Long
    f = FreeFile
    On Error GoTo Failed
    Open file For Binary Access Read As #f
    count = LOF(f)
    If count > 0 Then
        ReDim data(0 To count - 1)
        Get #f, , data
    End If
    Close #f
    ReadFileBytes = count
    Exit Function
Failed:
    Close #f
    ReadFileBytes = 0
End Function

Private Sub RemoveFile(ByVal file As String)
    On Error Resume Next
    Kill file
End Sub
