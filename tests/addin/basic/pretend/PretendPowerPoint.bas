Option Explicit

' A pretend PowerPoint for the macros' dealings with its objects: the Application the add-in's
' modules reach (a Global of this library, which they find before any other), PowerPoint's
' constants they use, and the ribbon helper's AppleScriptTask. Each scenario sets it up and
' runs in one call, since LibreOffice Basic forgets the modules' variables when a call ends.

Global Application As Object
Global Const msoTrue = -1
Global Const msoFalse = 0
Global Const msoEditingAuto = 0
Global Const msoEditingCorner = 1
Global Const msoSegmentLine = 0
Global Const msoSegmentCurve = 1
Global Const msoArrowheadNone = 1
Global Const msoArrowheadTriangle = 2
Global Const msoArrowheadLengthMedium = 2
Global Const msoArrowheadWidthMedium = 2
Global Const ppViewSlide = 1
Global Const ppViewSlideSorter = 7
Global Const ppViewNormal = 9
Global Const ppViewThumbnails = 11

' SCBT_Pen's colour record, under a name of its own (see ScbtChecks).
Private Type PaintCopy
    kind As Long
    colour As Long
    opacity As Long
    theme As Long
End Type

Private mScriptCalls As String
Private mScriptFails As Boolean

' AppleScriptTask: notes each call ("script|handler|parameter" lines) and fails when told to.
Public Function AppleScriptTask(ByVal script As String, ByVal handler As String, ByVal parameter As String) As String
    mScriptCalls = mScriptCalls & script & "|" & handler & "|" & parameter & vbLf
    If mScriptFails Then Err.Raise 1004, , "The script could not be found."
    AppleScriptTask = "OK"
End Function

' The answers of SCBT_LinkQuery for each of `links`, then the helper's calls, with a helper
' that fails when `fails` is true.
Public Function LinkAnswers(links As Variant, ByVal fails As Boolean) As Variant
    Dim out() As Variant, i As Long
    mScriptCalls = ""
    mScriptFails = fails
    ReDim out(LBound(links) To UBound(links) + 1)
    For i = LBound(links) To UBound(links)
        out(i) = SCBT_Pen.SCBT_LinkQuery(links(i))
    Next i
    out(UBound(out)) = mScriptCalls
    LinkAnswers = out
End Function

' A slide holding the shapes `existing` ("5,6r,7": the identifiers, "r" for one that refuses
' to be deleted), on which each step Array(path, doomed) places the path text replacing the
' shapes with the identifiers `doomed` ("6,5", in that order) through SCBT_Pen.PlaceParts.
' Answers, for each step, Array(the answer, the slide's identifiers after it).
Public Function PlaceOn(ByVal existing As String, steps As Variant) As Variant
    Dim sld As Slide, out() As Variant, i As Long, item As Variant, id As String
    Set sld = New Slide
    For Each item In Split(existing, ",")
        id = item
        sld.Shapes.NewShape CLng(Val(id)), Right$(id, 1) = "r"
    Next item
    ReDim out(LBound(steps) To UBound(steps))
    For i = LBound(steps) To UBound(steps)
        out(i) = Array(PlaceStep(sld, steps(i)(0), steps(i)(1)), sld.Shapes.Ids())
    Next i
    PlaceOn = out
End Function

Private Function PlaceStep(ByVal sld As Slide, ByVal path As String, ByVal doomedIds As String) As String
    Dim parts() As PathPart, count As Long, problem As String, paint As PaintCopy, doomed As Collection
    Dim item As Variant
    If Len(path) > 0 Then
        problem = SCBT_Path.Parse(path, parts, count)
        If Len(problem) > 0 Then
            PlaceStep = "the test's path: " & problem
            Exit Function
        End If
    End If
    SCBT_Pen.ReadPaint "#1F1F1F", paint
    Set doomed = New Collection
    If Len(doomedIds) > 0 Then
        For Each item In Split(doomedIds, ",")
            doomed.Add sld.Shapes.ById(CLng(Val(item)))
        Next item
    End If
    PlaceStep = SCBT_Pen.PlaceParts(sld, parts, count, paint, 1#, paint, doomed, False)
End Function

' The line ends of the freeforms a placing of `path` makes, with the arrowhead (`headed`) or
' without: the answer, then for each freeform Array(style, length, width) of its line's end.
Public Function LineEnds(ByVal path As String, ByVal headed As Boolean) As Variant
    Dim sld As Slide, parts() As PathPart, count As Long, paint As PaintCopy, out() As Variant, i As Long
    Set sld = New Slide
    SCBT_Path.Parse path, parts, count
    SCBT_Pen.ReadPaint "#1F1F1F", paint
    ReDim out(0 To count)
    out(0) = SCBT_Pen.PlaceParts(sld, parts, count, paint, 2#, paint, New Collection, headed)
    For i = 1 To sld.Shapes.Items.Count
        With sld.Shapes.Items.Item(i).Line
            out(i) = Array(.EndArrowheadStyle, .EndArrowheadLength, .EndArrowheadWidth)
        End With
    Next i
    LineEnds = out
End Function

' What the macros that work on the slide showing answer with a pretend PowerPoint of one
' presentation and `windows` document windows, the active one in view `viewType`: SCBT_Geom,
' SCBT_Where, SCBT_Zoom fit, SCBT_Slide 64, SCBT_Theme, an insert and a removal-only insert
' on the slide `slideId` (of no presentation named: the active window's); then the slide identifiers FindBySlideID was asked for (",257").
Public Function AnswersIn(ByVal viewType As Long, ByVal windows As Long, ByVal slideId As String) As Variant
    Dim app As PretendApplication, slides As PretendSlides, pres As Presentation, win As DocumentWindow
    Set app = New PretendApplication
    Set app.Presentations = New PretendCount
    app.Presentations.Count = 1
    Set app.Windows = New PretendCount
    app.Windows.Count = windows
    Set win = New DocumentWindow
    win.ViewType = viewType
    Set app.ActiveWindow = win
    Set slides = New PretendSlides
    Set pres = New Presentation
    Set pres.Slides = slides
    Set app.ActivePresentation = pres
    Set Application = app
    AnswersIn = Array(SCBT_Pen.SCBT_Geom(), SCBT_Pen.SCBT_Where(), SCBT_Pen.SCBT_Zoom("fit"), _
                      SCBT_Pen.SCBT_Slide("64"), SCBT_Pen.SCBT_Theme(), _
                      SCBT_Pen.SCBT_Insert("M 0 0 L 10 10", "#1F1F1F", "1", "none", "", slideId, ""), _
                      SCBT_Pen.SCBT_Insert(" ", "#1F1F1F", "1", "none", "5", slideId, ""), _
                      slides.Asked)
    Set Application = Nothing
End Function
