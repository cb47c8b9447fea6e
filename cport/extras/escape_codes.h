// Terminal control sequences of the VT52 and VT100 sets: parsers that take
// one received character at a time and say whether it is a plain character,
// completes a control sequence (with its numeric parameters), or was taken
// in as part of one; and generators that turn a code and its parameters back
// into the characters to send. No port and no I/O: bytes in, events out.
#pragma once

#include "tarnby/cport/platform/classes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnby {

enum TEscapeResult : uint8_t { erChar, erCode, erNothing };

// Every code is one row of the code table in escape_codes.cpp (its name, how
// each set reads and writes it); new codes go at the end, before
// ecCodeCount, so the values of the older ones never change.
enum TEscapeCode : uint8_t {
    ecUnknown, ecNotCompleted, ecCursorUp, ecCursorDown, ecCursorLeft, ecCursorRight, ecCursorHome, ecCursorMove,
    ecReverseLineFeed, ecAppCursorLeft, ecAppCursorRight, ecAppCursorUp, ecAppCursorDown, ecEraseLineFrom,
    ecEraseScreenFrom, ecEraseLine, ecEraseScreen, ecSetTab, ecClearTab, ecClearAllTabs, ecIdentify,
    ecIdentResponse, ecQueryDevice, ecReportDeviceOK, ecReportDeviceFailure, ecQueryCursorPos, ecReportCursorPos,
    ecAttributes, ecSetMode, ecResetMode, ecReset, ecSaveCaretAndAttr, ecRestoreCaretAndAttr, ecSaveCaret,
    ecRestoreCaret, ecTest,
    // VT100: scrolling region (top; bottom), index, next line, reverse
    // index, erase to the caret (line, screen), the G0 and G1 character sets.
    ecSetScrollRegion, ecIndex, ecNextLine, ecReverseIndex, ecEraseLineTo, ecEraseScreenTo, ecCharsetG0Graphics,
    ecCharsetG0Ascii, ecCharsetG1Graphics, ecCharsetG1Ascii,
    ecCodeCount // not a code: the number of codes
};

// The enumerator's name ("ecCursorMove"), for logs and test messages.
TARNBY_CPORT_EXPORT const char* EscapeCodeName(TEscapeCode code);

constexpr char kEsc = 27;

class TARNBY_CPORT_EXPORT TEscapeCodes : public TObject {
public:
    // Nothing times out, so a sequence that never completes would collect
    // text without end: at this many characters after ESC it ends as
    // ecUnknown instead.
    static constexpr size_t kMaxSequenceLength = 128;

    std::string ClassName() const override { return "TEscapeCodes"; }

    virtual TEscapeResult ProcessChar(char ch) = 0;
    // Empty text for a code this set cannot express.
    virtual std::string EscCodeToStr(TEscapeCode code, const TStrings* params) = 0;

    // Parameter index (from 1) as a decimal number; 1 when there is no list,
    // too few entries, or text that is not a number.
    static int32_t GetParam(int index, const TStrings* params);

    // The last plain character, the last complete code, the text collected
    // after ESC, and the parameters of the last code. The caller empties
    // Params after handling each erCode.
    char Character() const { return character_; }
    TEscapeCode Code() const { return code_; }
    const std::string& Data() const { return data_; }
    // Inside a sequence: the next character is taken as part of it (or, in
    // the VT100 set, may act as a control character). Outside, every
    // character but ESC is a plain one, so a caller may take a run of them
    // without asking for each.
    bool InSequence() const { return in_sequence_; }
    TStrings& Params() { return params_; }
    const TStrings& Params() const { return params_; }

protected:
    bool in_sequence_ = false;
    char character_ = 0;
    TEscapeCode code_ = ecUnknown;
    std::string data_;
    TStrings params_;
};

class TARNBY_CPORT_EXPORT TEscapeCodesVT52 : public TEscapeCodes {
public:
    std::string ClassName() const override { return "TEscapeCodesVT52"; }
    TEscapeResult ProcessChar(char ch) override;
    std::string EscCodeToStr(TEscapeCode code, const TStrings* params) override;
    TEscapeCode DetectCode(const std::string& str);
};

// VT100 sequences as a VT100 reads them: CAN and SUB abandon a sequence, ESC
// starts a new one, DEL is ignored, and any other control character inside a
// sequence comes back as erChar (to be acted on) while the sequence goes on.
// A bracket sequence ends at any final byte 0x40..0x7E; its parameters are
// split at every ";", an empty one standing for its default.
class TARNBY_CPORT_EXPORT TEscapeCodesVT100 : public TEscapeCodes {
public:
    std::string ClassName() const override { return "TEscapeCodesVT100"; }
    TEscapeResult ProcessChar(char ch) override;
    std::string EscCodeToStr(TEscapeCode code, const TStrings* params) override;
    TEscapeCode DetectCode(const std::string& str);
    TEscapeCode DetectExtCode(const std::string& str);

private:
    bool in_ext_sequence_ = false;
};

} // namespace tarnby
