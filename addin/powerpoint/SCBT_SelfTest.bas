Attribute VB_Name = "SCBT_SelfTest"
Option Explicit

' Runs the add-in's contract cases (contract.cases, the file Scribbet's stand-in is tested
' against too) inside PowerPoint, each on a new scratch presentation that is closed again
' afterwards; the user's presentations are never touched. Run SCBT_RunSelfTest from Tools >
' Macro > Macros, or SCBT_SelfTest with the file's path from a script.
'
' The file: UTF-8, one record a line, fields separated by one TAB; "\t", "\n" and "\\" are
' escapes inside fields. "case NAME" starts a case; "given KEY VALUE" sets the state first;
' "call MACRO ARGS..." runs a macro; "answer PATTERN" is matched against the call's answer
' ("*" any run without "|", TAB or line feed, "{NAME}" the same, bound to what it matched
' and replaced in later calls' arguments, "\*" a star; a NAME is letters, digits and "_",
' and a brace that does not make one is itself); "span {A} {B} N" says the numbers
' bound to A and B differ by N (within 0.5); "exactly" lines are the stand-in's own and are
' skipped here.

Private Const DEFAULT_WINDOW As String = "80,60,1280,820"
Private Const DEFAULT_SLIDES As Long = 3

Private Const TOKEN_TEXT As Long = 0
Private Const TOKEN_ANY As Long = 1
Private Const TOKEN_NAME As Long = 2

' The names bound so far in the running case.
Private mNames() As String
Private mValues() As String
Private mBound As Long

' A pattern, split into tokens.
Private mKinds() As Long
Private mTexts() As String
Private mTokens As Long

Public Sub SCBT_RunSelfTest()
    SCBT_SelfTest ""
End Sub

' Runs every case of the file at `casesPath` (empty: contract.cases beside the add-in) and
' answers "OK|" and the report when none failed, else "ERR|" and a sentence followed by the
' report's lines. The report is shown in a message too unless `showMessage` is "no".
Public Function SCBT_SelfTest(ByVal casesPath As String, Optional ByVal showMessage As String = "yes") As String
    Dim text As String, problem As String, report As String
    casesPath = SCBT_Text.TrimBlank(casesPath)
    If Len(casesPath) = 0 Then casesPath = CasesBesideAddin()
    If Len(casesPath) = 0 Then
        report = "ERR|The self-test did not find contract.cases beside the add-in; give its path."
    Else
        text = ReadCases(casesPath, problem)
        If Len(problem) > 0 Then
            report = "ERR|" & problem
        Else
            report = RunAll(text)
        End If
    End If
    If LCase$(showMessage) <> "no" Then MsgBox Mid$(report, InStr(report, "|") + 1), vbOKOnly, "Scribbet self-test"
    SCBT_SelfTest = report
End Function

' ---------------------------------------------------------------------------------------
' Reading the file

Private Function CasesBesideAddin() As String
    Dim ai As AddIn
    On Error Resume Next
    For Each ai In Application.AddIns
        If LCase$(Left$(ai.Name, 8)) = "scribbet" Then
            CasesBesideAddin = ai.Path & SCBT_Text.PathSeparator() & "contract.cases"
            Exit Function
        End If
    Next ai
    ' Not installed as an add-in (the modules imported into a presentation while developing):
    ' the file beside that presentation.
    If Application.Presentations.Count > 0 Then
        If Len(Application.ActivePresentation.Path) > 0 Then
            CasesBesideAddin = Application.ActivePresentation.Path & SCBT_Text.PathSeparator() & "contract.cases"
        End If
    End If
End Function

Private Function ReadCases(ByVal path As String, ByRef problem As String) As String
    Dim data() As Byte, count As Long
#If Mac Then
    ' The sandbox lets PowerPoint read a file outside its container once the user allows it.
    On Error Resume Next
    GrantAccessToMultipleFiles Array(path)
    On Error GoTo 0
#End If
    count = SCBT_Pen.ReadFileBytes(path, data)
    If count <= 0 Then
        problem = "The self-test could not read the contract cases at " & SCBT_Text.OneField(path) & "."
        Exit Function
    End If
    ReadCases = Utf8Text(data, count)
End Function

' UTF-8 bytes as a VBA string (UTF-16); a byte that does not belong gives U+FFFD.
Private Function Utf8Text(data() As Byte, ByVal count As Long) As String
    Dim out() As Long, n As Long, i As Long, b As Long, cp As Long, more As Long, j As Long
    Dim s As String
    ReDim out(0 To count)
    i = 0
    Do While i < count
        b = data(i)
        more = 0
        If b < &H80 Then
            cp = b
        ElseIf (b And &HE0) = &HC0 Then
            cp = b And &H1F
            more = 1
        ElseIf (b And &HF0) = &HE0 Then
            cp = b And &HF
            more = 2
        ElseIf (b And &HF8) = &HF0 Then
            cp = b And &H7
            more = 3
        Else
            cp = &HFFFD&
        End If
        For j = 1 To more
            If i + j >= count Then
                cp = &HFFFD&
                Exit For
            End If
            If (data(i + j) And &HC0) <> &H80 Then
                cp = &HFFFD&
                more = j - 1
                Exit For
            End If
            cp = cp * 64 + (data(i + j) And &H3F)
        Next j
        i = i + 1 + more
        out(n) = cp
        n = n + 1
    Loop
    For i = 0 To n - 1
        If out(i) > &HFFFF& Then
            s = s & ChrW(&HD800& + ((out(i) - &H10000) \ &H400&)) & ChrW(&HDC00& + ((out(i) - &H10000) And &H3FF&))
        Else
            s = s & ChrW(out(i))
        End If
    Next i
    Utf8Text = s
End Function

' A field with its escapes resolved: "\t" TAB, "\n" line feed, "\\" a backslash; any other
' backslash stays as it is.
Private Function Unescape(ByVal field As String) As String
    Dim i As Long, out As String
    i = 1
    Do While i <= Len(field)
        If Not TakeEscape(field, i, out) Then
            out = out & Mid$(field, i, 1)
            i = i + 1
        End If
    Loop
    Unescape = out
End Function

' The escape at `i` of `s`, if one starts there: its character added to `out` and `i` moved
' past it.
Private Function TakeEscape(ByVal s As String, ByRef i As Long, ByRef out As String) As Boolean
    If Mid$(s, i, 1) <> "\" Then Exit Function
    Select Case Mid$(s, i + 1, 1)
        Case "t"
            out = out & vbTab
        Case "n"
            out = out & vbLf
        Case "\"
            out = out & "\"
        Case Else
            Exit Function
    End Select
    i = i + 2
    TakeEscape = True
End Function

' ---------------------------------------------------------------------------------------
' Running the cases

Private Function RunAll(ByVal text As String) As String
    Dim lines() As String, i As Long, fields() As String
    Dim caseName As String, caseFirst As Long, inCase As Boolean
    Dim passed As Long, failed As Long, skipped As Long, details As String, outcome As String

    lines = Split(Replace(text, vbCr, ""), vbLf)
    For i = 0 To UBound(lines) + 1
        If i <= UBound(lines) Then fields = Split(lines(i), vbTab) Else fields = Split("case", vbTab)
        If UBound(fields) >= 0 Then
            If fields(0) = "case" Then
                If inCase Then
                    outcome = RunCase(caseName, lines, caseFirst, i - 1)
                    If Len(outcome) = 0 Then
                        passed = passed + 1
                    ElseIf Left$(outcome, 8) = "SKIPPED " Then
                        skipped = skipped + 1
                        details = details & vbLf & outcome
                    Else
                        failed = failed + 1
                        details = details & vbLf & outcome
                    End If
                End If
                inCase = True
                caseName = ""
                If UBound(fields) >= 1 Then caseName = Unescape(fields(1))
                caseFirst = i + 1
            End If
        End If
    Next i

    RunAll = Trim$(Str$(passed)) & " of " & Trim$(Str$(passed + failed + skipped)) & _
             " contract cases passed in PowerPoint, " & Trim$(Str$(failed)) & " failed and " & _
             Trim$(Str$(skipped)) & " were skipped." & details
    If failed > 0 Then RunAll = "ERR|" & RunAll Else RunAll = "OK|" & RunAll
End Function

' Runs the records lines(first ... last) (0-based; the file's line numbers are one more) of
' one case. Answers "" when it passed, "SKIPPED ..." or "FAILED ..." with the reason.
Private Function RunCase(ByVal caseName As String, lines() As String, ByVal first As Long, ByVal last As Long) As String
    Dim i As Long, fields() As String, key As String, answer As String, problem As String
    Dim pres As Presentation, userWindow As DocumentWindow, haveAnswer As Boolean, lineNo As Long
    Dim canRun As Boolean, pendingView As String, pendingFocus As String, what As String

    ' Every given must be one PowerPoint can be set to before anything is opened.
    For i = first To last
        fields = Split(lines(i), vbTab)
        If UBound(fields) >= 0 Then
            If fields(0) = "given" Then
                key = ""
                If UBound(fields) >= 1 Then key = Unescape(fields(1))
                If UBound(fields) < 2 Then
                    canRun = False
                Else
                    canRun = CanSet(key, Unescape(fields(2)))
                End If
                If Not canRun Then
                    what = key
                    If key = "view" And UBound(fields) >= 2 Then what = key & " " & Unescape(fields(2))
                    RunCase = "SKIPPED case " & caseName & ": it sets " & what & ", which the self-test cannot set in PowerPoint."
                    Exit Function
                End If
            End If
        End If
    Next i

    ForgetBindings
    On Error Resume Next
    Set userWindow = Application.ActiveWindow
    On Error GoTo 0

    On Error GoTo Broken
    lineNo = first
    Set pres = Application.Presentations.Add(msoTrue)
    PrepareScratch pres
    For i = first To last
        lineNo = i + 1
        fields = Split(lines(i), vbTab)
        If UBound(fields) >= 0 Then
            Select Case fields(0)
                Case "given"
                    ' The view changes last, so that the zoom and the slide given with it are
                    ' the Normal view's, as they are in the stand-in.
                    If Unescape(fields(1)) = "view" Then
                        pendingView = Unescape(fields(2))
                    ElseIf Unescape(fields(1)) = "focus" Then
                        pendingFocus = Unescape(fields(2)) ' a pane of the view given, so after it
                    Else
                        problem = ApplyGiven(pres, Unescape(fields(1)), Unescape(fields(2)))
                    End If
                Case "call"
                    If Len(pendingView) > 0 Then problem = ApplyGiven(pres, "view", pendingView)
                    pendingView = ""
                    If Len(pendingFocus) > 0 And Len(problem) = 0 Then problem = ApplyGiven(pres, "focus", pendingFocus)
                    pendingFocus = ""
                    If Len(problem) = 0 Then answer = RunCall(fields, problem)
                    haveAnswer = Len(problem) = 0
                    If haveAnswer Then problem = WindowHoldsSlide(Unescape(fields(1)), answer)
                Case "answer"
                    If UBound(fields) < 1 Then
                        problem = "an answer line without a pattern"
                    ElseIf Not haveAnswer Then
                        problem = "an answer line before any call"
                    ElseIf Not Matches(fields(1), answer) Then
                        problem = "expected " & fields(1) & ", answer " & Printable(answer)
                    End If
                Case "span"
                    problem = CheckSpan(fields)
            End Select
        End If
        If Len(problem) > 0 Then Exit For
    Next i
    GoTo Done
Broken:
    problem = "PowerPoint failed: " & SCBT_Text.OneField(Err.Description)
    Resume Done
Done:
    On Error Resume Next
    CloseScratch pres
    If Not userWindow Is Nothing Then userWindow.Activate
    On Error GoTo 0
    If Len(problem) > 0 Then RunCase = "FAILED case " & caseName & ", line " & Trim$(Str$(lineNo)) & ": " & problem
End Function

Private Function Printable(ByVal s As String) As String
    Printable = Replace(Replace(Replace(s, "\", "\\"), vbTab, "\t"), vbLf, "\n")
End Function

' Whether a PowerPoint window and presentation can be set as the stand-in's `key` is set to
' `value`: the window's place, the zoom, Fit, the current slide, the slide count (not a list
' of slides with their shapes), the slide size, the view: Normal or the slide sorter, and the
' Normal view's pane with the focus: the slide pane or the thumbnails. Not
' view none: PowerPoint has no window only when the user's presentations have none either,
' and the self-test leaves those alone.
Private Function CanSet(ByVal key As String, ByVal value As String) As Boolean
    Dim n() As Double, count As Long
    count = ReadNumbers(value, n)
    Select Case key
        Case "window"
            CanSet = count = 4
        Case "zoom", "slide", "slides"
            CanSet = count = 1
        Case "slideSize"
            CanSet = count = 2
        Case "fit"
            CanSet = value = "true" Or value = "false"
        Case "view"
            CanSet = value = "normal" Or value = "sorter"
        Case "focus"
            CanSet = value = "slide" Or value = "thumbnails"
    End Select
End Function

' A presentation in the stand-in's default state: three blank 960 by 540 slides, the first
' showing in Normal view at Fit, its window at 80, 60, 1280 by 820 points.
Private Sub PrepareScratch(ByVal pres As Presentation)
    Dim i As Long
    pres.PageSetup.SlideWidth = 960
    pres.PageSetup.SlideHeight = 540
    For i = 1 To DEFAULT_SLIDES
        pres.Slides.Add i, ppLayoutBlank
    Next i
    With pres.Windows(1)
        .Activate
        .WindowState = ppWindowNormal
        .ViewType = ppViewNormal
    End With
    ApplyGiven pres, "window", DEFAULT_WINDOW
    pres.Windows(1).View.GotoSlide 1
    pres.Windows(1).View.ZoomToFit = msoTrue
End Sub

Private Sub CloseScratch(ByVal pres As Presentation)
    If pres Is Nothing Then Exit Sub
    pres.Saved = msoTrue
    pres.Close
End Sub

' Sets one given; answers "" or what was wrong with it.
Private Function ApplyGiven(ByVal pres As Presentation, ByVal key As String, ByVal value As String) As String
    Dim n() As Double, count As Long, win As DocumentWindow
    Set win = pres.Windows(1)
    count = ReadNumbers(value, n)
    Select Case key
        Case "window"
            If count <> 4 Then GoTo BadValue
            ' The given place is on the screen, as the geometry answer gives it; the document
            ' window's own Left and Top are measured from the application window's client area.
            win.Left = n(0) - Application.Left
            win.Top = n(1) - Application.Top
            win.Width = n(2)
            win.Height = n(3)
        Case "zoom"
            If count <> 1 Then GoTo BadValue
            win.View.Zoom = CLng(n(0))
        Case "fit"
            If value = "true" Then
                win.View.ZoomToFit = msoTrue
            ElseIf value = "false" Then
                win.View.ZoomToFit = msoFalse
            Else
                GoTo BadValue
            End If
        Case "slide"
            If count <> 1 Then GoTo BadValue
            win.View.GotoSlide CLng(n(0))
        Case "slides"
            If count <> 1 Or n(0) < 1 Then GoTo BadValue
            Do While pres.Slides.Count < n(0)
                pres.Slides.Add pres.Slides.Count + 1, ppLayoutBlank
            Loop
            Do While pres.Slides.Count > n(0)
                pres.Slides(pres.Slides.Count).Delete
            Loop
        Case "slideSize"
            If count <> 2 Then GoTo BadValue
            pres.PageSetup.SlideWidth = n(0)
            pres.PageSetup.SlideHeight = n(1)
        Case "view"
            If value = "normal" Then
                win.ViewType = ppViewNormal
            ElseIf value = "sorter" Then
                win.ViewType = ppViewSlideSorter
            Else
                GoTo BadValue
            End If
        Case "focus"
            If value = "slide" Then
                If Not ActivatePane(win, ppViewSlide) Then GoTo NoPane
            ElseIf value = "thumbnails" Then
                If Not ActivatePane(win, ppViewThumbnails) Then GoTo NoPane
            Else
                GoTo BadValue
            End If
    End Select
    Exit Function
BadValue:
    ApplyGiven = "the given " & key & " has a value the self-test cannot read: " & value
    Exit Function
NoPane:
    ApplyGiven = "the window has no " & value & " pane to give the focus to"
End Function

' Gives the focus to the window's pane of that ViewType; false when it has none.
Private Function ActivatePane(ByVal win As DocumentWindow, ByVal kind As Long) As Boolean
    Dim i As Long
    For i = 1 To win.Panes.Count
        If win.Panes(i).ViewType = kind Then
            win.Panes(i).Activate
            ActivatePane = True
            Exit Function
        End If
    Next i
End Function

' A geometry answer at Fit, read against itself: the slide's rectangle (PointsToScreenPixels,
' measured from the screen) lies within the window's (DocumentWindow and Application, whose
' sum is the window's place on the screen), in points or in a 2x screen's pixels. A window
' measured from anywhere but the screen's corner (the application window's client area, say)
' leaves the slide outside it. "" when it holds, or the answer is of another kind.
Private Function WindowHoldsSlide(ByVal macro As String, ByVal answer As String) As String
    Dim f() As String, v(1 To 10) As Double, i As Long, k As Long
    If macro <> "SCBT_Geom" And macro <> "SCBT_Where" Then Exit Function
    f = Split(answer, "|")
    If UBound(f) < 13 Then Exit Function
    If f(0) <> "OK" Or f(13) <> "1" Then Exit Function
    For i = 1 To 10 ' left, top, right, bottom, zoom, window x, y, w, h, slide id
        If Not SCBT_Text.ReadDecimal(f(i + 2), v(i)) Then Exit Function
    Next i
    For k = 1 To 2
        If v(1) / k >= v(6) - 1 And v(2) / k >= v(7) - 1 And v(3) / k <= v(6) + v(8) + 1 And _
           v(4) / k <= v(7) + v(9) + 1 Then Exit Function
    Next k
    WindowHoldsSlide = "the slide at " & f(3) & "," & f(4) & " to " & f(5) & "," & f(6) & _
                       " lies outside the window at " & f(8) & "," & f(9) & " (" & f(10) & " by " & f(11) & ")"
End Function

' The comma-separated numbers of `value` into n(0 ...); answers how many, -1 when one is
' not a number.
Private Function ReadNumbers(ByVal value As String, ByRef n() As Double) As Long
    Dim pieces() As String, i As Long, v As Double
    pieces = Split(value, ",")
    If UBound(pieces) < 0 Then
        ReadNumbers = 0
        Exit Function
    End If
    ReDim n(0 To UBound(pieces))
    For i = 0 To UBound(pieces)
        If Not SCBT_Text.ReadDecimal(SCBT_Text.TrimBlank(pieces(i)), v) Then
            ReadNumbers = -1
            Exit Function
        End If
        n(i) = v
    Next i
    ReadNumbers = UBound(pieces) + 1
End Function

' Runs the macro a "call" record names, with the names bound so far put into its arguments.
Private Function RunCall(fields() As String, ByRef problem As String) As String
    Dim args() As String, argc As Long, i As Long, macro As String
    If UBound(fields) < 1 Then
        problem = "a call without a macro"
        Exit Function
    End If
    macro = Unescape(fields(1))
    argc = UBound(fields) - 1
    ReDim args(1 To 8)
    For i = 1 To argc
        If i <= 8 Then
            args(i) = Argument(fields(i + 1), problem)
            If Len(problem) > 0 Then Exit Function
        End If
    Next i
    Select Case macro
        Case "SCBT_Geom", "SCBT_Where", "SCBT_Version", "SCBT_Theme", "SCBT_Features"
            If argc <> 0 Then GoTo WrongCount
            If macro = "SCBT_Features" Then RunCall = SCBT_Pen.SCBT_Features()
            If macro = "SCBT_Geom" Then RunCall = SCBT_Pen.SCBT_Geom()
            If macro = "SCBT_Where" Then RunCall = SCBT_Pen.SCBT_Where()
            If macro = "SCBT_Version" Then RunCall = SCBT_Pen.SCBT_Version()
            If macro = "SCBT_Theme" Then RunCall = SCBT_Pen.SCBT_Theme()
        Case "SCBT_Zoom", "SCBT_Slide", "SCBT_LinkQuery"
            If argc <> 1 Then GoTo WrongCount
            If macro = "SCBT_Zoom" Then RunCall = SCBT_Pen.SCBT_Zoom(args(1))
            If macro = "SCBT_Slide" Then RunCall = SCBT_Pen.SCBT_Slide(args(1))
            If macro = "SCBT_LinkQuery" Then RunCall = SCBT_Pen.SCBT_LinkQuery(args(1))
        Case "SCBT_Insert"
            If argc < 1 Or argc > 8 Then GoTo WrongCount
            ' What Scribbet sends for values the page left out.
            If argc < 2 Then args(2) = "#1F1F1F"
            If argc < 3 Then args(3) = "1"
            If argc < 4 Then args(4) = "none"
            RunCall = SCBT_Pen.SCBT_Insert(args(1), args(2), args(3), args(4), args(5), args(6), args(7), args(8))
        Case Else
            problem = "the case calls " & macro & ", which the add-in does not have"
    End Select
    Exit Function
WrongCount:
    problem = "the case calls " & macro & " with " & Trim$(Str$(argc)) & " arguments"
End Function

' A call's argument field `raw`, read once left to right: its escapes resolved and every
' "{NAME}" replaced by the text bound to it. A name not bound yet sets `problem` (the case
' fails rather than run the macro with the braces as its argument).
Private Function Argument(ByVal raw As String, ByRef problem As String) As String
    Dim i As Long, n As Long, out As String, bound As Long
    i = 1
    Do While i <= Len(raw)
        n = NameLength(raw, i)
        If n > 0 Then
            bound = BoundIndex(Mid$(raw, i + 1, n - 2))
            If bound = 0 Then
                problem = Mid$(raw, i, n) & " is used before it is bound"
                Exit Function
            End If
            out = out & mValues(bound)
            i = i + n
        ElseIf Not TakeEscape(raw, i, out) Then
            out = out & Mid$(raw, i, 1)
            i = i + 1
        End If
    Loop
    Argument = out
End Function

' The length of the "{NAME}" that starts at `pos` of `s` (braces included), or 0 when none
' does: a NAME is one or more letters, digits or "_" (ASCII), as the stand-in's tests read it.
Private Function NameLength(ByVal s As String, ByVal pos As Long) As Long
    Dim i As Long
    If Mid$(s, pos, 1) <> "{" Then Exit Function
    i = pos + 1
    Do While i <= Len(s)
        If Not IsNameChar(Mid$(s, i, 1)) Then Exit Do
        i = i + 1
    Loop
    If i > pos + 1 And Mid$(s, i, 1) = "}" Then NameLength = i - pos + 1
End Function

Private Function IsNameChar(ByVal c As String) As Boolean
    Dim code As Long
    code = AscW(c)
    IsNameChar = (code >= 48 And code <= 57) Or (code >= 65 And code <= 90) Or (code >= 97 And code <= 122) Or code = 95
End Function

Private Function CheckSpan(fields() As String) As String
    Dim a As Double, b As Double, want As Double
    If UBound(fields) < 3 Then
        CheckSpan = "a span line needs two names and a number"
    ElseIf Not BoundNumber(fields(1), a) Or Not BoundNumber(fields(2), b) Then
        CheckSpan = "a span of " & fields(1) & " and " & fields(2) & ", which are not both bound to numbers"
    ElseIf Not SCBT_Text.ReadDecimal(SCBT_Text.TrimBlank(fields(3)), want) Then
        CheckSpan = "a span whose number cannot be read: " & fields(3)
    ElseIf Abs((b - a) - want) > 0.5 Then
        CheckSpan = "expected " & fields(2) & " - " & fields(1) & " to be " & fields(3) & ", it is " & SCBT_Text.Num(b - a)
    End If
End Function

Private Function BoundNumber(ByVal field As String, ByRef value As Double) As Boolean
    Dim i As Long, name As String
    If NameLength(field, 1) <> Len(field) Then Exit Function
    name = Mid$(field, 2, Len(field) - 2)
    i = BoundIndex(name)
    If i = 0 Then Exit Function
    BoundNumber = SCBT_Text.ReadDecimal(SCBT_Text.TrimBlank(mValues(i)), value)
End Function

' ---------------------------------------------------------------------------------------
' Patterns

' Whether `answer` matches the pattern field `raw` (escapes not yet resolved); names it binds
' stay bound when it does.
Public Function Matches(ByVal raw As String, ByVal answer As String) As Boolean
    Dim saved As Long
    Tokenize raw
    saved = mBound
    Matches = MatchFrom(1, answer, 1)
    If Not Matches Then mBound = saved
End Function

' Splits a pattern into literal text, "*" and "{NAME}" tokens, resolving the escapes in the
' same pass so that "\*" is a star in the text and "\\" a backslash.
Private Sub Tokenize(ByVal raw As String)
    Dim i As Long, c As String, nxt As String, literal As String, n As Long
    mTokens = 0
    ReDim mKinds(1 To Len(raw) + 1)
    ReDim mTexts(1 To Len(raw) + 1)
    i = 1
    Do While i <= Len(raw)
        c = Mid$(raw, i, 1)
        nxt = Mid$(raw, i + 1, 1)
        n = NameLength(raw, i)
        If c = "\" And (nxt = "t" Or nxt = "n" Or nxt = "\" Or nxt = "*") Then
            If nxt = "t" Then literal = literal & vbTab
            If nxt = "n" Then literal = literal & vbLf
            If nxt = "\" Or nxt = "*" Then literal = literal & nxt
            i = i + 2
        ElseIf c = "*" Then
            AddToken TOKEN_TEXT, literal
            AddToken TOKEN_ANY, ""
            i = i + 1
        ElseIf n > 0 Then
            AddToken TOKEN_TEXT, literal
            AddToken TOKEN_NAME, Mid$(raw, i + 1, n - 2)
            i = i + n
        Else
            literal = literal & c
            i = i + 1
        End If
    Loop
    AddToken TOKEN_TEXT, literal
End Sub

' Adds a token; an empty literal is dropped, and `literal` is emptied after it is added.
Private Sub AddToken(ByVal kind As Long, ByRef literal As String)
    If kind = TOKEN_TEXT And Len(literal) = 0 Then Exit Sub
    mTokens = mTokens + 1
    mKinds(mTokens) = kind
    mTexts(mTokens) = literal
    If kind = TOKEN_TEXT Then literal = ""
End Sub

Private Function MatchFrom(ByVal t As Long, ByVal answer As String, ByVal pos As Long) As Boolean
    Dim run As Long, n As Long, saved As Long, i As Long
    If t > mTokens Then
        MatchFrom = pos > Len(answer)
        Exit Function
    End If
    Select Case mKinds(t)
        Case TOKEN_TEXT
            If Mid$(answer, pos, Len(mTexts(t))) = mTexts(t) Then
                MatchFrom = MatchFrom(t + 1, answer, pos + Len(mTexts(t)))
            End If
        Case TOKEN_ANY
            run = RunLength(answer, pos)
            For n = 0 To run
                If MatchFrom(t + 1, answer, pos + n) Then
                    MatchFrom = True
                    Exit Function
                End If
            Next n
        Case TOKEN_NAME
            i = BoundIndex(mTexts(t))
            If i > 0 Then
                If Mid$(answer, pos, Len(mValues(i))) = mValues(i) Then
                    MatchFrom = MatchFrom(t + 1, answer, pos + Len(mValues(i)))
                End If
                Exit Function
            End If
            run = RunLength(answer, pos)
            saved = mBound
            For n = 0 To run
                Bind mTexts(t), Mid$(answer, pos, n)
                If MatchFrom(t + 1, answer, pos + n) Then
                    MatchFrom = True
                    Exit Function
                End If
                mBound = saved
            Next n
    End Select
End Function

' How many characters from `pos` hold no "|", TAB or line feed.
Private Function RunLength(ByVal s As String, ByVal pos As Long) As Long
    Dim i As Long, c As String
    i = pos
    Do While i <= Len(s)
        c = Mid$(s, i, 1)
        If c = "|" Or c = vbTab Or c = vbLf Then Exit Do
        i = i + 1
    Loop
    RunLength = i - pos
End Function

Private Function BoundIndex(ByVal name As String) As Long
    Dim i As Long
    For i = 1 To mBound
        If StrComp(mNames(i), name, vbBinaryCompare) = 0 Then
            BoundIndex = i
            Exit Function
        End If
    Next i
End Function

Private Sub Bind(ByVal name As String, ByVal value As String)
    If mBound = 0 Then
        ReDim mNames(1 To 8)
        ReDim mValues(1 To 8)
    End If
    mBound = mBound + 1
    If mBound > UBound(mNames) Then
        ReDim Preserve mNames(1 To mBound * 2)
        ReDim Preserve mValues(1 To mBound * 2)
    End If
    mNames(mBound) = name
    mValues(mBound) = value
End Sub

' For trying patterns in the Immediate window: forgets every bound name.
Public Sub ForgetBindings()
    mBound = 0
    ReDim mNames(1 To 8)
    ReDim mValues(1 To 8)
End Sub
