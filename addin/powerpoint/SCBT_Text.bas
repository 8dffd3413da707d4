Attribute VB_Name = "SCBT_Text"
Option Explicit

' Text and number helpers shared by the macros and the self-test. Scribbet reads every number
' with a decimal point, whatever the Mac's region says, so nothing here goes through CStr,
' CDbl or Format with a decimal (they follow the locale); numbers are written with Str and
' read with Val, and Val only after the text's shape has been checked, because Val stops
' quietly at the first character it does not like.

' Blanks Scribbet trims around a field: space, tab, CR, LF.
Public Function TrimBlank(ByVal s As String) As String
    Dim first As Long, last As Long
    first = 1
    last = Len(s)
    Do While first <= last
        If Not IsBlankChar(Mid$(s, first, 1)) Then Exit Do
        first = first + 1
    Loop
    Do While last >= first
        If Not IsBlankChar(Mid$(s, last, 1)) Then Exit Do
        last = last - 1
    Loop
    TrimBlank = Mid$(s, first, last - first + 1)
End Function

Private Function IsBlankChar(ByVal c As String) As Boolean
    IsBlankChar = (c = " " Or c = vbTab Or c = vbCr Or c = vbLf)
End Function

Public Function IsDigitChar(ByVal c As String) As Boolean
    If Len(c) <> 1 Then Exit Function
    IsDigitChar = (AscW(c) >= 48 And AscW(c) <= 57)
End Function

Public Function IsHexChar(ByVal c As String) As Boolean
    If Len(c) <> 1 Then Exit Function
    IsHexChar = InStr(1, "0123456789abcdefABCDEF", c, vbBinaryCompare) > 0
End Function

' A number as Scribbet's answers carry it: at most three decimals, no trailing zeros, never
' "-0", always a point. The text is the one C's "%.3f" gives (and the stand-in then trims):
' the Double's exact binary value rounded to thousandths, an exact half to the even one. So
' 1.0005, which a Double holds as 1.000499999..., is "1"; neither Round (which rounds the
' decimal it sees) nor Int(x * 1000 + 0.5) (whose product rounds first) gives that.
Public Function Num(ByVal value As Double) As String
    Dim a As Double, whole As Double, frac As Double, high As Double, low As Double
    Dim scaled As Double, thousandths As Double, toHalf As Double, up As Boolean
    Dim out As String, fracText As String
    a = Abs(value)
    whole = Int(a)
    frac = a - whole
    ' frac * 1000 without rounding, in two parts: frac's first 26 bits after the point and
    ' the rest, each of which times 1000 (ten bits) fits a Double's 53. Where the rest has
    ' more bits than that, frac is below 2^-17 and nowhere near a half thousandth.
    high = Int(frac * 67108864#) / 67108864#
    low = (frac - high) * 1000#
    scaled = high * 1000#
    thousandths = Int(scaled)
    toHalf = 0.5 - (scaled - thousandths)
    If low > toHalf Then
        up = True
    ElseIf low = toHalf Then
        up = (thousandths - 2# * Int(thousandths / 2#)) = 1#
    End If
    If up Then thousandths = thousandths + 1#
    If thousandths >= 1000# Then
        thousandths = thousandths - 1000#
        whole = whole + 1#
    End If
    out = WholeText(whole)
    If thousandths > 0 Then
        fracText = Right$("00" & Trim$(Str$(CLng(thousandths))), 3)
        Do While Right$(fracText, 1) = "0"
            fracText = Left$(fracText, Len(fracText) - 1)
        Loop
        out = out & "." & fracText
    End If
    If value < 0 And out <> "0" Then out = "-" & out
    Num = out
End Function

' Every decimal digit of a whole number held in a Double (Str gives fifteen at most). Below
' 2^53 digit by digit; above, the number is its 53-bit part doubled so many times, and the
' doubling is done in decimal, nine digits to a Long.
Private Function WholeText(ByVal w As Double) As String
    Dim twos As Long, digits As String, q As Double, limbs() As Long, n As Long
    Dim i As Long, j As Long, carry As Long, v As Long, out As String
    Do While w >= 9007199254740992#
        w = w / 2#
        twos = twos + 1
    Loop
    Do
        q = Int(w / 10#)
        digits = Chr$(48 + CLng(w - q * 10#)) & digits
        w = q
    Loop While w > 0
    If twos = 0 Then
        WholeText = digits
        Exit Function
    End If
    n = (Len(digits) + 8) \ 9
    ReDim limbs(1 To n + (twos * 31) \ 100 + 2)
    For i = 1 To n
        j = Len(digits) - 9 * i + 1
        If j < 1 Then
            limbs(i) = CLng(Val(Left$(digits, j + 8)))
        Else
            limbs(i) = CLng(Val(Mid$(digits, j, 9)))
        End If
    Next i
    For j = 1 To twos
        carry = 0
        For i = 1 To n
            v = limbs(i) * 2 + carry
            If v >= 1000000000 Then
                limbs(i) = v - 1000000000
                carry = 1
            Else
                limbs(i) = v
                carry = 0
            End If
        Next i
        If carry > 0 Then
            n = n + 1
            limbs(n) = carry
        End If
    Next j
    out = Trim$(Str$(limbs(n)))
    For i = n - 1 To 1 Step -1
        out = out & Right$("00000000" & Trim$(Str$(limbs(i))), 9)
    Next i
    WholeText = out
End Function

' A whole number in decimal: an optional "-" and digits, nothing else (no "+", no blanks),
' as Scribbet's own readers take it. False when the text is anything else or too large.
Public Function ReadWhole(ByVal s As String, ByRef value As Double) As Boolean
    Dim i As Long, start As Long
    start = 1
    If Left$(s, 1) = "-" Then start = 2
    If Len(s) < start Or Len(s) - start + 1 > 18 Then Exit Function
    For i = start To Len(s)
        If Not IsDigitChar(Mid$(s, i, 1)) Then Exit Function
    Next i
    value = Val(s)
    ReadWhole = True
End Function

' A decimal number: an optional sign, digits with an optional point (".5" and "5." too) and
' an optional exponent. False for anything else, for "inf" and "nan", and for a value beyond
' a Double's range either way.
Public Function ReadDecimal(ByVal s As String, ByRef value As Double) As Boolean
    Dim i As Long, n As Long, digits As Long, nonZero As Boolean, c As String
    n = Len(s)
    i = 1
    If i <= n Then
        c = Mid$(s, i, 1)
        If c = "+" Or c = "-" Then i = i + 1
    End If
    Do While i <= n
        c = Mid$(s, i, 1)
        If Not IsDigitChar(c) Then Exit Do
        If c <> "0" Then nonZero = True
        digits = digits + 1
        i = i + 1
    Loop
    If i <= n Then
        If Mid$(s, i, 1) = "." Then
            i = i + 1
            Do While i <= n
                c = Mid$(s, i, 1)
                If Not IsDigitChar(c) Then Exit Do
                If c <> "0" Then nonZero = True
                digits = digits + 1
                i = i + 1
            Loop
        End If
    End If
    If digits = 0 Then Exit Function
    If i <= n Then
        c = Mid$(s, i, 1)
        If c <> "e" And c <> "E" Then Exit Function
        i = i + 1
        If i <= n Then
            c = Mid$(s, i, 1)
            If c = "+" Or c = "-" Then i = i + 1
        End If
        If i > n Then Exit Function
        Do While i <= n
            If Not IsDigitChar(Mid$(s, i, 1)) Then Exit Function
            i = i + 1
        Loop
    End If
    ReadDecimal = ValueOf(s, nonZero, value)
End Function

' Val of a text already known to be a decimal number; false when it overflows, or underflows
' to zero although it has a digit other than 0.
Private Function ValueOf(ByVal s As String, ByVal nonZero As Boolean, ByRef value As Double) As Boolean
    On Error GoTo Overflow
    value = Val(s)
    If nonZero And value = 0 Then Exit Function
    ValueOf = True
    Exit Function
Overflow:
    value = 0
End Function

' "#RRGGBB" in capitals from a colour as VBA holds it (red in the low byte).
Public Function HexColour(ByVal rgbValue As Long) As String
    Dim r As Long, g As Long, b As Long
    r = rgbValue And &HFF&
    g = (rgbValue \ &H100&) And &HFF&
    b = (rgbValue \ &H10000) And &HFF&
    HexColour = "#" & Hex2(r) & Hex2(g) & Hex2(b)
End Function

Private Function Hex2(ByVal v As Long) As String
    Hex2 = Right$("0" & Hex$(v), 2)
End Function

' The value of a run of hexadecimal digits (at most 8), or -1 when one is not a digit.
Public Function HexValue(ByVal digits As String) As Double
    Dim i As Long, d As Long, total As Double
    If Len(digits) = 0 Or Len(digits) > 8 Then
        HexValue = -1
        Exit Function
    End If
    For i = 1 To Len(digits)
        d = InStr(1, "0123456789ABCDEF", UCase$(Mid$(digits, i, 1)), vbBinaryCompare) - 1
        If d < 0 Or Not IsHexChar(Mid$(digits, i, 1)) Then
            HexValue = -1
            Exit Function
        End If
        total = total * 16 + d
    Next i
    HexValue = total
End Function

' The folder separator of file paths (Application.PathSeparator is Excel's and Word's, not PowerPoint's).
Public Function PathSeparator() As String
#If Mac Then
    PathSeparator = "/"
#Else
    PathSeparator = "\"
#End If
End Function

' A text made safe to stand inside one field of an answer: no "|", TAB or line breaks.
Public Function OneField(ByVal s As String) As String
    s = Replace(s, "|", "/")
    s = Replace(s, vbTab, " ")
    s = Replace(s, vbCr, " ")
    OneField = Replace(s, vbLf, " ")
End Function
