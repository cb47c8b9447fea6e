// INI-style settings files with the behaviour people know from profile
// strings: sections and keys are matched without regard to case, a write
// changes only its own line and leaves every other section, key, comment and
// blank line as it was, and a value reads back exactly as it was written.
//
// TIniDocument is the text engine: text in, text out, no files, so it can be
// fuzzed on its own. TIniFile puts it on a file and replaces the file whole
// (a new file renamed over the old), so a crash or a full disk never leaves a
// torn settings file behind.
//
// File rules, as a person editing the file sees them:
//  - "[name]" starts a section; blanks around the name do not count.
//  - "key=value": blanks around key and value do not count; a value wrapped
//    in one pair of matching quotes ("..." or '...') reads without them.
//  - Lines starting with ";" or "#" are comments; other lines are kept and
//    ignored. Keys before the first section belong to no section.
//  - When a section or key appears twice, the first one counts.
//  - Line ends ("\n" or "\r\n") and a UTF-8 byte-order mark are kept.
#pragma once

#include "tarnby/cport/platform/classes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnby {

// A value, key or section that a settings file cannot hold, or a file that
// cannot be read or written.
class TARNBY_CPORT_EXPORT EIniError : public Exception {
public:
    using Exception::Exception;
};

class TARNBY_CPORT_EXPORT TIniDocument {
public:
    TIniDocument() = default;
    explicit TIniDocument(std::string_view text);

    // The value of key in section, or nothing found.
    bool Find(std::string_view section, std::string_view key, std::string& value) const;
    std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // The keys of a section in file order (first occurrence of each).
    std::vector<std::string> ReadSection(std::string_view section) const;

    // Changes the key's value in place, or adds the key at the end of its
    // section, or adds the section at the end of the text. Raises EIniError
    // for a value holding a line break or a zero byte, and for a key or
    // section name that would not read back as itself.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Adds an empty section unless it exists.
    void AddSection(std::string_view section);

    std::string Text() const;

private:
    struct Line {
        std::string text; // without its line end
        std::string eol;  // "\n", "\r\n" or "" for a last line without one
    };
    // Index of the first header of section, or -1; end is the line after
    // the section's last line.
    int SectionStart(std::string_view section, size_t& end) const;
    int KeyLine(size_t begin, size_t end, std::string_view key) const;
    void Insert(size_t index, std::string text);

    std::string bom_;
    std::vector<Line> lines_;
    std::string eol_ = "\n"; // for new lines: the file's first line end
};

// The same as plain functions of text, for fuzzing and quick use.
TARNBY_CPORT_EXPORT std::string IniReadString(std::string_view text, std::string_view section,
                                              std::string_view key, std::string_view fallback);
TARNBY_CPORT_EXPORT std::string IniWriteString(std::string_view text, std::string_view section,
                                               std::string_view key, std::string_view value);

// A whole integer as a settings file holds it: decimal with an optional sign,
// or "0x" and up to eight hexadecimal digits (a 32-bit pattern, so
// 0xFFFFFFFF is -1). False for anything else or out of range.
TARNBY_CPORT_EXPORT bool ParseIniInteger(std::string_view text, int32_t& value);

// Writes data to path by writing a new file beside it, flushing it to disk
// and renaming it over the old one (a symbolic link is followed, the old
// file's permissions kept). Returns 0 or the errno of the failure, in which
// case the old file is untouched and no temporary file is left.
TARNBY_CPORT_EXPORT int ReplaceFileContents(const std::string& path, const std::string& data);

// Reads a whole file: 0, or ENOENT for a missing file, or another errno.
TARNBY_CPORT_EXPORT int ReadFileContents(const std::string& path, std::string& data);

// A settings file. It is read when the object is made (a missing file reads
// as empty); writes collect in memory until UpdateFile, which lays them over
// the file as it is then, so changes made meanwhile by others survive.
class TARNBY_CPORT_EXPORT TIniFile : public TObject {
public:
    // Raises EIniError when the file exists but cannot be read.
    explicit TIniFile(std::string file_name);
    std::string ClassName() const override { return "TIniFile"; }
    const std::string& FileName() const { return file_name_; }

    std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
    // The integer forms of ParseIniInteger; fallback for a missing key or a
    // text that does not convert.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;
    bool SectionExists(std::string_view section) const { return document_.SectionExists(section); }
    bool ValueExists(std::string_view section, std::string_view key) const
    {
        return document_.ValueExists(section, key);
    }

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Written in decimal.
    void WriteInteger(std::string_view section, std::string_view key, int32_t value);

    // Writes the collected changes; nothing when there are none. Raises
    // EIniError and leaves the old file as it was when that fails.
    void UpdateFile();

private:
    struct Write {
        std::string section, key, value;
    };
    std::string file_name_;
    TIniDocument document_;
    std::vector<Write> pending_;
};

} // namespace tarnby
