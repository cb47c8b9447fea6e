#include "tarnby/cport/extras/ini_file.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnby {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s)
{
    size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

bool IsComment(std::string_view trimmed) { return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#'); }

// The section a header line names, if the line is one.
bool HeaderName(std::string_view line, std::string_view& name)
{
    std::string_view t = Trim(line);
    if (t.empty() || t[0] != '[')
        return false;
    t.remove_prefix(1);
    size_t close = t.find(']');
    name = Trim(close == std::string_view::npos ? t : t.substr(0, close));
    return true;
}

// Key and raw value of a key line, if the line is one.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value)
{
    std::string_view t = Trim(line);
    if (t.empty() || t[0] == '[' || IsComment(t))
        return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

std::string Unquote(std::string_view raw)
{
    if (raw.size() >= 2 && IsQuote(raw.front()) && raw.back() == raw.front())
        raw = raw.substr(1, raw.size() - 2);
    return std::string(raw);
}

// The text to write so that Unquote(Trim(text)) gives value back.
std::string Quote(std::string_view value)
{
    bool needs = false;
    if (!value.empty()) {
        needs = kBlanks.find(value.front()) != std::string_view::npos ||
                kBlanks.find(value.back()) != std::string_view::npos ||
                (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front());
    }
    if (!needs)
        return std::string(value);
    return '"' + std::string(value) + '"';
}

bool HasLineBreakOrZero(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; }

void CheckName(std::string_view what, std::string_view name, std::string_view forbidden_first,
               std::string_view forbidden)
{
    bool bad = name.empty() || HasLineBreakOrZero(name) || Trim(name) != name ||
               forbidden_first.find(name.front()) != std::string_view::npos ||
               name.find_first_of(forbidden) != std::string_view::npos;
    if (bad)
        throw EIniError("A settings file cannot hold the " + std::string(what) + " name \"" + std::string(name) +
                        "\"");
}

} // namespace

// ---- TIniDocument ----------------------------------------------------------

TIniDocument::TIniDocument(std::string_view text)
{
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (text.substr(0, kBom.size()) == kBom) {
        bom_ = kBom;
        text.remove_prefix(kBom.size());
    }
    bool first_eol = true;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        Line line;
        if (nl == std::string_view::npos) {
            line.text = std::string(text);
            text = {};
        } else {
            bool crlf = nl > 0 && text[nl - 1] == '\r';
            line.text = std::string(text.substr(0, crlf ? nl - 1 : nl));
            line.eol = crlf ? "\r\n" : "\n";
            text.remove_prefix(nl + 1);
            if (first_eol)
                eol_ = line.eol;
            first_eol = false;
        }
        lines_.push_back(std::move(line));
    }
}

int TIniDocument::SectionStart(std::string_view section, size_t& end) const
{
    std::string_view name;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (!HeaderName(lines_[i].text, name) || !SameText(name, section))
            continue;
        end = i + 1;
        while (end < lines_.size() && !HeaderName(lines_[end].text, name))
            ++end;
        return static_cast<int>(i);
    }
    return -1;
}

int TIniDocument::KeyLine(size_t begin, size_t end, std::string_view key) const
{
    std::string_view k, v;
    for (size_t i = begin; i < end; ++i)
        if (KeyValue(lines_[i].text, k, v) && SameText(k, key))
            return static_cast<int>(i);
    return -1;
}

bool TIniDocument::Find(std::string_view section, std::string_view key, std::string& value) const
{
    size_t end = 0;
    int start = SectionStart(section, end);
    if (start < 0)
        return false;
    int line = KeyLine(static_cast<size_t>(start) + 1, end, key);
    if (line < 0)
        return false;
    std::string_view k, v;
    KeyValue(lines_[static_cast<size_t>(line)].text, k, v);
    value = Unquote(v);
    return true;
}

std::string TIniDocument::ReadString(std::string_view section, std::string_view key,
                                     std::string_view fallback) const
{
    std::string value;
    return Find(section, key, value) ? value : std::string(fallback);
}

bool TIniDocument::SectionExists(std::string_view section) const
{
    size_t end = 0;
    return SectionStart(section, end) >= 0;
}

bool TIniDocument::ValueExists(std::string_view section, std::string_view key) const
{
    std::string value;
    return Find(section, key, value);
}

std::vector<std::string> TIniDocument::ReadSection(std::string_view section) const
{
    std::vector<std::string> keys;
    size_t end = 0;
    int start = SectionStart(section, end);
    if (start < 0)
        return keys;
    std::string_view k, v;
    for (size_t i = static_cast<size_t>(start) + 1; i < end; ++i) {
        if (!KeyValue(lines_[i].text, k, v))
            continue;
        bool seen = false;
        for (const std::string& known : keys)
            seen = seen || SameText(known, k);
        if (!seen)
            keys.emplace_back(k);
    }
    return keys;
}

void TIniDocument::Insert(size_t index, std::string text)
{
    // The line before the new one must end, or the two would run together.
    // A carriage return it ends in stays its own: a line feed alone would
    // pair with it into a line end and take it from the line's value.
    if (index > 0 && lines_[index - 1].eol.empty()) {
        const std::string& before = lines_[index - 1].text;
        lines_[index - 1].eol = !before.empty() && before.back() == '\r' ? "\r\n" : eol_;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), Line{std::move(text), eol_});
}

void TIniDocument::AddSection(std::string_view section)
{
    CheckName("section", section, "", "]");
    if (SectionExists(section))
        return;
    // A blank line between the last section and the new one, as people write them.
    if (!lines_.empty() && !Trim(lines_.back().text).empty())
        Insert(lines_.size(), "");
    // Appended piece by piece: g++ 12 at full optimisation warns wrongly of
    // overlapping copies in "[" + ... + "]".
    std::string header;
    header.reserve(section.size() + 2);
    header += '[';
    header += section;
    header += ']';
    Insert(lines_.size(), header);
}

void TIniDocument::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    CheckName("key", key, "[;#", "=");
    if (HasLineBreakOrZero(value))
        throw EIniError("A settings file cannot hold a value with a line break (key \"" + std::string(key) + "\")");
    AddSection(section);
    size_t end = 0;
    size_t start = static_cast<size_t>(SectionStart(section, end));
    int line = KeyLine(start + 1, end, key);
    if (line >= 0) {
        // Keep the person's spelling of the key and the spacing around "=".
        std::string& text = lines_[static_cast<size_t>(line)].text;
        size_t value_at = text.find('=') + 1;
        while (value_at < text.size() && kBlanks.find(text[value_at]) != std::string::npos)
            ++value_at;
        text = text.substr(0, value_at) + Quote(value);
        return;
    }
    // After the section's last non-blank line, so a blank line that
    // separates it from the next section stays where it is.
    size_t at = end;
    while (at > start + 1 && Trim(lines_[at - 1].text).empty())
        --at;
    Insert(at, std::string(key) + "=" + Quote(value));
}

std::string TIniDocument::Text() const
{
    std::string text = bom_;
    for (const Line& line : lines_) {
        text += line.text;
        text += line.eol;
    }
    return text;
}

std::string IniReadString(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view fallback)
{
    return TIniDocument(text).ReadString(section, key, fallback);
}

std::string IniWriteString(std::string_view text, std::string_view section, std::string_view key,
                           std::string_view value)
{
    TIniDocument document(text);
    document.WriteString(section, key, value);
    return document.Text();
}

bool ParseIniInteger(std::string_view text, int32_t& value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::string_view digits = text.substr(2);
        uint32_t pattern = 0;
        if (digits.size() > 8)
            return false;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pattern, 16);
        if (error != std::errc() || end != digits.data() + digits.size())
            return false;
        value = static_cast<int32_t>(pattern);
        return true;
    }
    // One sign at most: from_chars takes a "-" of its own, so none may
    // follow the "+".
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-')
            return false;
    }
    if (text.empty() || text[0] == '+')
        return false;
    int32_t number = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, 10);
    if (error != std::errc() || end != text.data() + text.size())
        return false;
    value = number;
    return true;
}

// ---- files -----------------------------------------------------------------

int ReadFileContents(const std::string& path, std::string& data)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    data.clear();
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int error = errno;
            ::close(fd);
            return error;
        }
        if (n == 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
}

int ReplaceFileContents(const std::string& path, const std::string& data)
{
    // Replace what a symbolic link points at, not the link itself.
    std::string target = path;
    struct stat st {};
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode))
            return EISDIR;
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    std::string temp = target + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return errno;
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        return error;
    };
    if (::fchmod(fd, exists ? (st.st_mode & 07777) : 0644) != 0)
        return fail(errno);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(errno);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0)
        return fail(errno);
    if (::close(fd) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        return error;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        return error;
    }
    // The rename itself reaches the disk with the folder.
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

// ---- TIniFile --------------------------------------------------------------

namespace {
TIniDocument ReadDocument(const std::string& file_name)
{
    std::string text;
    int error = ReadFileContents(file_name, text);
    if (error == ENOENT)
        return TIniDocument();
    if (error != 0)
        throw EIniError("Cannot read " + file_name + ": " + std::strerror(error));
    return TIniDocument(text);
}
}

TIniFile::TIniFile(std::string file_name) : file_name_(std::move(file_name)), document_(ReadDocument(file_name_))
{
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback) const
{
    return document_.ReadString(section, key, fallback);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const
{
    std::string text;
    int32_t value = 0;
    if (document_.Find(section, key, text) && ParseIniInteger(text, value))
        return value;
    return fallback;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    document_.WriteString(section, key, value);
    pending_.push_back({std::string(section), std::string(key), std::string(value)});
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value)
{
    WriteString(section, key, std::to_string(value));
}

void TIniFile::UpdateFile()
{
    if (pending_.empty())
        return;
    TIniDocument current = ReadDocument(file_name_);
    for (const Write& w : pending_)
        current.WriteString(w.section, w.key, w.value);
    if (int error = ReplaceFileContents(file_name_, current.Text()))
        throw EIniError("Cannot write " + file_name_ + ": " + std::strerror(error));
    document_ = std::move(current);
    pending_.clear();
}

} // namespace tarnby
