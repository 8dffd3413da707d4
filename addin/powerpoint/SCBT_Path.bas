Attribute VB_Name = "SCBT_Path"
Option Explicit

' The drawing's path text as Scribbet hands it to SCBT_Insert: SVG path data in slide points
' (origin at the slide's top-left corner), absolute M, L, C and Z only. Each subpath becomes
' one freeform. The whole text is read before anything is placed: any fault gives one
' sentence for the user and no parts at all. The grammar and the sentences are those of
' Scribbet's stand-in, so that both answer the contract cases alike: numbers may run
' together where a sign or a second point starts the next ("10-5", "1.5.5"), and one comma
' may stand between two numbers.

Public Type PathSegment
    curve As Boolean ' a cubic Bezier; otherwise a straight line
    x1 As Double     ' control points, for a curve
    y1 As Double
    x2 As Double
    y2 As Double
    x As Double      ' where the segment ends
    y As Double
End Type

Public Type PathPart
    startX As Double
    startY As Double
    closed As Boolean
    segCount As Long
    segs() As PathSegment
End Type

' Far beyond any slide; PowerPoint refuses shapes this far out, and so do we, before
' anything is placed.
Private Const MAX_COORDINATE As Double = 1000000#

' The reader's state while one text is parsed.
Private mText As String
Private mPos As Long
Private mComma As Boolean
Private mError As String
Private mParts() As PathPart
Private mCount As Long
Private mCurrent As PathPart
' The open part's segments, copied into a new array of the part's own when it is finished.
' Records are filled member by member and arrays grown on their own, not as a record's
' member: LibreOffice Basic, which runs the add-in's tests, takes no ReDim of a member,
' copies nothing when a whole record is assigned to an array's element, loses the first
' member written to an element it has not used yet (hence a first write of 0 that may be
' lost), and lets two array variables share one array after an assignment. VBA runs this
' the same as the shorter way.
Private mSegs() As PathSegment
Private mOpen As Boolean
Private mAfterClose As Boolean

' Reads `text` into `parts` (1 To partCount). Answers "" when the whole text was read, else
' the sentence for the user (and partCount 0).
Public Function Parse(ByVal text As String, parts() As PathPart, ByRef partCount As Long) As String
    Dim c As String, ok As Boolean
    mText = text
    mPos = 1
    mComma = False
    mError = ""
    mCount = 0
    mOpen = False
    mAfterClose = False
    ReDim mParts(1 To 1)
    partCount = 0

    If AtEnd() Then
        Parse = "There is nothing to place: the drawing is empty."
        Exit Function
    End If
    Do While Not AtEnd()
        If mComma Then
            Parse = "The drawing has a comma where a number should be."
            Exit Function
        End If
        c = Mid$(mText, mPos, 1)
        mPos = mPos + 1
        Select Case c
            Case "M": ok = MoveTo()
            Case "L": ok = LineTo()
            Case "C": ok = CurveTo()
            Case "Z": ok = ClosePart()
            Case Else: ok = Bad(CommandError(c))
        End Select
        If Not ok Then
            Parse = mError
            Exit Function
        End If
    Loop
    If mComma Then
        Parse = "The drawing has a comma where a number should be."
        Exit Function
    End If
    If Not FinishPart() Then
        Parse = mError
        Exit Function
    End If
    If mCount > 0 Then
        ReDim Preserve mParts(1 To mCount)
        parts = mParts
    End If
    partCount = mCount
    Parse = ""
End Function

Private Function Bad(ByVal sentence As String) As Boolean
    mError = sentence
    Bad = False
End Function

Private Function CommandError(ByVal c As String) As String
    If (c >= "a" And c <= "z") Or (c >= "A" And c <= "Z") Then
        CommandError = "The drawing uses the path command """ & c & """, but only absolute M, L, C and Z are understood."
    Else
        CommandError = "The drawing has an unexpected character """ & c & """."
    End If
End Function

Private Function IsSpaceChar(ByVal c As String) As Boolean
    IsSpaceChar = (c = " " Or c = vbTab Or c = vbLf Or c = vbCr Or c = Chr$(12))
End Function

Private Sub SkipSpace()
    Do While mPos <= Len(mText)
        If Not IsSpaceChar(Mid$(mText, mPos, 1)) Then Exit Do
        mPos = mPos + 1
    Loop
End Sub

Private Function AtEnd() As Boolean
    SkipSpace
    AtEnd = mPos > Len(mText)
End Function

Private Function NumberAhead() As Boolean
    Dim c As String
    SkipSpace
    If mPos > Len(mText) Then Exit Function
    c = Mid$(mText, mPos, 1)
    NumberAhead = SCBT_Text.IsDigitChar(c) Or c = "." Or c = "+" Or c = "-"
End Function

' The next number into `value`; false with mError set when there is none or it is unusable.
Private Function ReadNumber(ByRef value As Double) As Boolean
    Dim from As Long, digitsFrom As Long, digits As Long, j As Long, n As Long
    n = Len(mText)
    If Not NumberAhead() Then
        ReadNumber = Bad("The drawing has a number missing.")
        Exit Function
    End If
    from = mPos
    If Mid$(mText, mPos, 1) = "+" Or Mid$(mText, mPos, 1) = "-" Then mPos = mPos + 1
    digitsFrom = mPos
    Do While mPos <= n
        If Not SCBT_Text.IsDigitChar(Mid$(mText, mPos, 1)) Then Exit Do
        mPos = mPos + 1
        digits = digits + 1
    Loop
    If mPos <= n Then
        If Mid$(mText, mPos, 1) = "." Then
            mPos = mPos + 1
            Do While mPos <= n
                If Not SCBT_Text.IsDigitChar(Mid$(mText, mPos, 1)) Then Exit Do
                mPos = mPos + 1
                digits = digits + 1
            Loop
        End If
    End If
    If digits = 0 Then
        ReadNumber = Bad("The drawing has a number that cannot be read.")
        Exit Function
    End If
    If mPos <= n Then
        If Mid$(mText, mPos, 1) = "e" Or Mid$(mText, mPos, 1) = "E" Then
            j = mPos + 1
            If j <= n Then
                If Mid$(mText, j, 1) = "+" Or Mid$(mText, j, 1) = "-" Then j = j + 1
            End If
            If j > n Then
                ReadNumber = Bad("The drawing has a number that cannot be read.")
                Exit Function
            End If
            If Not SCBT_Text.IsDigitChar(Mid$(mText, j, 1)) Then
                ReadNumber = Bad("The drawing has a number that cannot be read.")
                Exit Function
            End If
            Do While j <= n
                If Not SCBT_Text.IsDigitChar(Mid$(mText, j, 1)) Then Exit Do
                j = j + 1
            Loop
            mPos = j
        End If
    End If
    If Not SCBT_Text.ReadDecimal(Mid$(mText, digitsFrom, mPos - digitsFrom), value) Then
        ReadNumber = Bad("The drawing has a coordinate too far from the slide.")
        Exit Function
    End If
    If Abs(value) > MAX_COORDINATE Then
        ReadNumber = Bad("The drawing has a coordinate too far from the slide.")
        Exit Function
    End If
    If Mid$(mText, from, 1) = "-" Then value = -value
    SkipSpace
    mComma = False
    If mPos <= n Then
        If Mid$(mText, mPos, 1) = "," Then
            mComma = True
            mPos = mPos + 1
        End If
    End If
    ReadNumber = True
End Function

Private Function ReadPoint(ByRef x As Double, ByRef y As Double) As Boolean
    If Not ReadNumber(x) Then Exit Function
    ReadPoint = ReadNumber(y)
End Function

Private Function FinishPart() As Boolean
    Dim segs() As PathSegment, i As Long
    If Not mOpen Then
        FinishPart = True
        Exit Function
    End If
    mOpen = False
    If mCurrent.segCount = 0 Then
        FinishPart = Bad("A part of the drawing has no lines or curves.")
        Exit Function
    End If
    ReDim segs(1 To mCurrent.segCount)
    For i = 1 To mCurrent.segCount
        segs(i).x = 0 ' (see mSegs)
        segs(i).curve = mSegs(i).curve
        segs(i).x1 = mSegs(i).x1
        segs(i).y1 = mSegs(i).y1
        segs(i).x2 = mSegs(i).x2
        segs(i).y2 = mSegs(i).y2
        segs(i).x = mSegs(i).x
        segs(i).y = mSegs(i).y
    Next i
    mCount = mCount + 1
    If mCount > UBound(mParts) Then ReDim Preserve mParts(1 To mCount * 2)
    mParts(mCount).segCount = 0 ' (see mSegs)
    mParts(mCount).startX = mCurrent.startX
    mParts(mCount).startY = mCurrent.startY
    mParts(mCount).closed = mCurrent.closed
    mParts(mCount).segCount = mCurrent.segCount
    mParts(mCount).segs = segs
    FinishPart = True
End Function

Private Sub AddSegment(ByVal curve As Boolean, ByVal x1 As Double, ByVal y1 As Double, _
                       ByVal x2 As Double, ByVal y2 As Double, ByVal x As Double, ByVal y As Double)
    Dim n As Long
    n = mCurrent.segCount + 1
    mCurrent.segCount = n
    If n > UBound(mSegs) Then ReDim Preserve mSegs(1 To n * 2)
    mSegs(n).x = 0 ' (see mSegs)
    mSegs(n).curve = curve
    mSegs(n).x1 = x1
    mSegs(n).y1 = y1
    mSegs(n).x2 = x2
    mSegs(n).y2 = y2
    mSegs(n).x = x
    mSegs(n).y = y
End Sub

Private Function MoveTo() As Boolean
    Dim x As Double, y As Double, fresh As PathPart
    If Not FinishPart() Then Exit Function
    If Not ReadPoint(x, y) Then Exit Function
    mCurrent = fresh
    mCurrent.startX = x
    mCurrent.startY = y
    ReDim mSegs(1 To 4)
    mOpen = True
    mAfterClose = False
    ' Further pairs after M are lines, as in SVG.
    Do While NumberAhead()
        If Not AddLine() Then Exit Function
    Loop
    MoveTo = True
End Function

Private Function NeedOpen(ByVal command As String) As Boolean
    If mOpen And Not mAfterClose Then
        NeedOpen = True
    ElseIf mAfterClose Then
        NeedOpen = Bad("A part of the drawing after Z must begin with M.")
    Else
        NeedOpen = Bad("The drawing must begin with M, not " & command & ".")
    End If
End Function

Private Function AddLine() As Boolean
    Dim x As Double, y As Double
    If Not ReadPoint(x, y) Then Exit Function
    AddSegment False, 0, 0, 0, 0, x, y
    AddLine = True
End Function

Private Function LineTo() As Boolean
    If Not NeedOpen("L") Then Exit Function
    Do
        If Not AddLine() Then Exit Function
    Loop While NumberAhead()
    LineTo = True
End Function

Private Function CurveTo() As Boolean
    Dim x1 As Double, y1 As Double, x2 As Double, y2 As Double, x As Double, y As Double
    If Not NeedOpen("C") Then Exit Function
    Do
        If Not ReadPoint(x1, y1) Then Exit Function
        If Not ReadPoint(x2, y2) Then Exit Function
        If Not ReadPoint(x, y) Then Exit Function
        AddSegment True, x1, y1, x2, y2, x, y
    Loop While NumberAhead()
    CurveTo = True
End Function

Private Function ClosePart() As Boolean
    If Not NeedOpen("Z") Then Exit Function
    If NumberAhead() Then
        ClosePart = Bad("The drawing has numbers after Z.")
        Exit Function
    End If
    mCurrent.closed = True
    mAfterClose = True
    ClosePart = True
End Function
