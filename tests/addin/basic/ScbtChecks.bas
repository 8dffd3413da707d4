Option Explicit

' SCBT_Pen's record of a colour, which is private to it: the same members in the same order,
' under a name of its own (with SCBT_Pen's name, LibreOffice Basic takes it for SCBT_Pen's too).
Private Type PaintCopy
    kind As Long
    colour As Long
    opacity As Long
    theme As Long
End Type

' The tests' own module, loaded beside the add-in's: it hands over through UNO what the
' add-in's procedures keep in forms UNO does not carry (arrays of user-defined types, Byte
' arrays with a chosen lower bound, records passed by reference).

' The parts SCBT_Path.Parse reads from `text`: the fault's sentence, or an array of parts,
' each Array(startX, startY, closed, segments), each segment Array(curve, x1, y1, x2, y2, x, y).
' (Every array is a new one made in a call of its own: LibreOffice Basic lets arrays share.)
Public Function PathParts(ByVal text As String) As Variant
    Dim parts() As PathPart, count As Long, problem As String, out() As Variant, i As Long
    problem = SCBT_Path.Parse(text, parts, count)
    If Len(problem) > 0 Then
        PathParts = problem
        Exit Function
    End If
    ReDim out(0 To count - 1)
    For i = 1 To count
        out(i - 1) = Array(parts(i).startX, parts(i).startY, parts(i).closed, SegmentsOf(parts, i))
    Next i
    PathParts = out
End Function

Private Function SegmentsOf(parts() As PathPart, ByVal i As Long) As Variant
    Dim segs() As Variant, j As Long
    ReDim segs(0 To parts(i).segCount - 1)
    For j = 1 To parts(i).segCount
        segs(j - 1) = Array(parts(i).segs(j).curve, parts(i).segs(j).x1, parts(i).segs(j).y1, _
                            parts(i).segs(j).x2, parts(i).segs(j).y2, parts(i).segs(j).x, parts(i).segs(j).y)
    Next j
    SegmentsOf = segs
End Function

' PathParts of every text, in one call.
Public Function PathPartsOfEach(texts As Variant) As Variant
    Dim out() As Variant, i As Long
    ReDim out(LBound(texts) To UBound(texts))
    For i = LBound(texts) To UBound(texts)
        out(i) = PathParts(texts(i))
    Next i
    PathPartsOfEach = out
End Function

' SCBT_Base64.Encode of the bytes `values`, held in a Byte array starting at `lower`, of which
' the first `count` are encoded.
Public Function Base64Of(values As Variant, ByVal lower As Long, ByVal count As Long) As String
    Dim data() As Byte, i As Long, n As Long
    n = UBound(values) - LBound(values) + 1
    If n = 0 Then
        ReDim data(lower To lower)
    Else
        ReDim data(lower To lower + n - 1)
    End If
    For i = 0 To n - 1
        data(lower + i) = values(LBound(values) + i)
    Next i
    Base64Of = SCBT_Base64.Encode(data, count)
End Function

' What SCBT_Pen.ReadPaint makes of a colour text: Array(read, kind, colour, opacity, theme).
Public Function PaintOf(ByVal text As String) As Variant
    Dim p As PaintCopy, ok As Boolean
    ok = SCBT_Pen.ReadPaint(text, p)
    PaintOf = Array(ok, p.kind, p.colour, p.opacity, p.theme)
End Function

' The self-test's pattern steps, run in one call: LibreOffice Basic forgets a module's
' private variables (the bound names among them) when a call from outside ends. Each step is
' Array("match", pattern, answer), Array("argument", raw), Array("span", name, name, number)
' or Array("forget"); the answers are True/False, Array(text, problem), the span's problem
' ("" when it holds) and "".
Public Function Steps(list As Variant) As Variant
    Dim out() As Variant, i As Long, st As Variant, problem As String, text As String, fields() As String
    ReDim out(LBound(list) To UBound(list))
    For i = LBound(list) To UBound(list)
        st = list(i)
        Select Case st(0)
            Case "match"
                out(i) = SCBT_SelfTest.Matches(st(1), st(2))
            Case "argument"
                problem = ""
                text = SCBT_SelfTest.Argument(st(1), problem)
                out(i) = Array(text, problem)
            Case "span"
                fields = Split("span" & vbTab & st(1) & vbTab & st(2) & vbTab & st(3), vbTab)
                out(i) = SCBT_SelfTest.CheckSpan(fields)
            Case "forget"
                SCBT_SelfTest.ForgetBindings
                out(i) = ""
        End Select
    Next i
    Steps = out
End Function
