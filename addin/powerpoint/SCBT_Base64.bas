Attribute VB_Name = "SCBT_Base64"
Option Explicit

' Base64 (the standard alphabet, padded with "=", no line breaks) in plain VBA: the Mac has
' none of the Windows encoders. The answer is built in a byte array and handed to a String
' as UTF-16 in one step, since joining thousands of small strings is slow in VBA.

Private Const ALPHABET As String = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"

' The first `count` bytes of `data` (from its lower bound) in Base64.
Public Function Encode(data() As Byte, ByVal count As Long) As String
    Dim table(0 To 63) As Byte, out() As Byte
    Dim i As Long, o As Long, first As Long, left3 As Long, triple As Long, outChars As Long

    If count <= 0 Then
        Encode = ""
        Exit Function
    End If
    For i = 0 To 63
        table(i) = AscW(Mid$(ALPHABET, i + 1, 1))
    Next i

    outChars = ((count + 2) \ 3) * 4
    ReDim out(0 To outChars * 2 - 1) ' UTF-16: each character a low byte and a zero byte
    first = LBound(data) ' not named "base": LibreOffice Basic, which runs these tests, keeps that word
    o = 0
    For i = 0 To count - 1 Step 3
        left3 = count - i
        triple = CLng(data(first + i)) * &H10000
        If left3 > 1 Then triple = triple + CLng(data(first + i + 1)) * &H100&
        If left3 > 2 Then triple = triple + CLng(data(first + i + 2))
        out(o) = table((triple \ &H40000) And 63)
        out(o + 2) = table((triple \ &H1000&) And 63)
        If left3 > 1 Then
            out(o + 4) = table((triple \ &H40&) And 63)
        Else
            out(o + 4) = 61 ' "="
        End If
        If left3 > 2 Then
            out(o + 6) = table(triple And 63)
        Else
            out(o + 6) = 61
        End If
        o = o + 8
    Next i
    Encode = out
End Function

' The same for a text's characters taken as bytes (each below 256): for tests in the
' Immediate window, e.g. EncodeText("Man") gives "TWFu".
Public Function EncodeText(ByVal s As String) As String
    Dim data() As Byte, i As Long
    If Len(s) = 0 Then
        EncodeText = ""
        Exit Function
    End If
    ReDim data(0 To Len(s) - 1)
    For i = 1 To Len(s)
        data(i - 1) = AscW(Mid$(s, i, 1)) And &HFF
    Next i
    EncodeText = Encode(data, Len(s))
End Function
