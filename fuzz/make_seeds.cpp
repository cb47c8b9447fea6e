// Writes the seed corpora of the fuzz targets:
//   fuzz_make_seeds <fuzz/corpus> [<assets/front_panel.jpg>]
// Seeds are few and small: each one reaches a different part of its target,
// and the fuzzer takes it from there. The JPEG seeds are the front-panel
// picture scaled down and written in several encodings.
#include "link_frames.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef TARNBY_SEEDS_JPEG
#include <jpeglib.h>
#endif

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void write_file(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- link_receive: header, then (time, byte) steps ---------------------------

struct LinkInput {
    uint8_t flags = 0;  // bit 0: heading_true
    int8_t variation = 0;
    int16_t pitch_trim = 0;
    Bytes steps;

    LinkInput& bytes(const Bytes& line, uint8_t time_before_first = 0)
    {
        for (size_t i = 0; i < line.size(); ++i) {
            steps.push_back(i == 0 ? time_before_first : 0);
            steps.push_back(line[i]);
        }
        return *this;
    }
    Bytes encode() const
    {
        const auto trim = static_cast<uint16_t>(pitch_trim);
        return Bytes{flags, static_cast<uint8_t>(variation), lo(trim), hi(trim)} + steps;
    }
};

void link_seeds(const fs::path& dir)
{
    const Bytes ack = make_frame(0xE5, 0x0A, {0x00});  // the worked example
    auto seed = [&](const char* name, const LinkInput& input) { write_file(dir / name, input.encode()); };

    seed("ack", LinkInput{}.bytes(ack));
    seed("ack_broadcast", LinkInput{}.bytes(make_frame(0xFF, 0x0A, {})));
    seed("ack_after_attention", LinkInput{}.bytes(Bytes{0xE5, 0x00} + ack));
    seed("ack_bad_checksum", LinkInput{}.bytes({0x82, 0xE5, 0x02, 0x0A, 0x00, 0x47, 0x83}));
    seed("ack_to_attitude_unit", LinkInput{}.bytes(make_frame(0xE6, 0x0A, {0x00})));
    seed("compass_heading", LinkInput{}.bytes(compass_heading_frame(359, 2)));
    seed("compass_heading_true", LinkInput{1, -10, 0, {}}.bytes(compass_heading_frame(5, 3)));
    seed("compass_data_13", LinkInput{}.bytes(make_frame(0xE5, 51, Bytes(12, 0x81))));
    seed("compass_data_19", LinkInput{}.bytes(make_frame(0xE5, 51, Bytes(18, 0x42))));
    seed("attitude_short", LinkInput{}.bytes(make_frame(0xE5, 55, {0x21, 0x00, 0xFE, 0xFF, 0xC8, 0x12})));
    seed("attitude_form0", LinkInput{}.bytes(attitude_frame({.form = 0, .bank = 33, .pitch = 65534, .slip = 200,
                                                             .heading = 90, .turn_rate = 5})));
    seed("attitude_form4_no_turn",
         LinkInput{}.bytes(attitude_frame({.form = 4, .bank = 65000, .heading = 400, .with_turn_rate = false})));
    seed("attitude_form5_trimmed", LinkInput{0, 0, -12, {}}.bytes(attitude_frame(
                                       {.form = 5, .bank = 450, .pitch = 65085, .heading = 3599, .turn_rate = 65534})));
    seed("compass_then_attitude",
         LinkInput{}.bytes(compass_heading_frame(180) + attitude_frame({.form = 0, .heading = 10})));
    seed("oversized_frame", LinkInput{}.bytes(make_frame(0xE5, 55, Bytes(60, 0x55)) + ack));
    seed("end_byte_late", LinkInput{}.bytes(Bytes(ack.begin(), ack.end() - 1) + Bytes{0x00, 0x82, 0x83}));
    // A pause of one tick inside a frame is kept, two ticks abandon it.
    seed("pause_one_tick", LinkInput{}.bytes(Bytes(ack.begin(), ack.begin() + 3)).bytes(Bytes(ack.begin() + 3, ack.end()), 1));
    seed("pause_two_ticks",
         LinkInput{}.bytes(Bytes(ack.begin(), ack.begin() + 3)).bytes(Bytes(ack.begin() + 3, ack.end()) + ack, 2));
    // An acknowledged exchange sets ticks to 0 while a frame is half received.
    const Bytes attitude = attitude_frame({.form = 0, .bank = 33, .turn_rate = 5});
    seed("ticks_reset_mid_frame", LinkInput{}.bytes(Bytes(attitude.begin(), attitude.begin() + 6), 57)
                                      .bytes(Bytes(attitude.begin() + 6, attitude.end()), 0x80));
    // Long silence: the heading hold runs out.
    seed("heading_then_silence", LinkInput{}.bytes(compass_heading_frame(90)).bytes(ack, 127).bytes(ack, 127));
}

// ---- cport_names: texts ------------------------------------------------------

// A file name that says what the text is: "#-1" is text_hashminus1.
std::string text_file_name(const std::string& text)
{
    std::string name = "text_";
    for (char c : text) {
        if (c == '#')
            name += "hash";
        else if (c == '-')
            name += "minus";
        else if (c == '+')
            name += "plus";
        else
            name += c;
    }
    return name;
}

void names_seeds(const fs::path& dir)
{
    for (const char* text : {"19200", "custom", "256000", "1.5", "2", "5", "Even", "sPaCe", "Hardware", "None",
                             "Handshake", "Toggle", "Yes", "no", "#17", "#-1", "#300", "#+5", "#",
                             "#9223372036854775807", "A"}) {
        const std::string s = text;
        write_file(dir / text_file_name(s), Bytes(s.begin(), s.end()));
    }
}

// ---- escape_codes: the set, then received text -------------------------------

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

void escape_seeds(const fs::path& dir)
{
    const std::string e = "\x1b";
    auto seed = [&](const char* name, bool vt100, const std::string& text) {
        write_file(dir / name, Bytes{static_cast<uint8_t>(vt100 ? 1 : 0)} + text_bytes(text));
    };
    seed("vt52_every_code", false,
         "ab" + e + "A" + e + "B" + e + "C" + e + "D" + e + "H" + e + "I" + e + "J" + e + "K" + e + "Z" + e + "/Z" +
             e + "/x" + e + "Q" + e + e + "c");
    // Row 12, column 40, then a position made of ESC and a high character.
    seed("vt52_cursor_address", false, e + "Y+G" + "x" + e + "Y" + e + "\xff" + "y");
    seed("vt100_cursor", true,
         e + "[12;40H" + e + "[H" + e + "[;5H" + e + "[3A" + e + "[B" + e + "[C" + e + "[2D" + e + "[7;9f" + e +
             "OA" + e + "OD" + e + "OX");
    seed("vt100_erase_and_tabs", true,
         e + "[2J" + e + "[1J" + e + "[J" + e + "[0K" + e + "[2K" + e + "[5K" + e + "H" + e + "[g" + e + "[3g" +
             e + "[1g");
    seed("vt100_reports", true,
         e + "[?1;2c" + e + "[0c" + e + "[c" + e + "[5n" + e + "[0n" + e + "[3n" + e + "[6n" + e + "[n" + e +
             "[24;80R");
    seed("vt100_modes", true,
         e + "[1;31m" + e + "[4h" + e + "[4l" + e + "[s" + e + "[u" + e + "7" + e + "8" + e + "c" + e + "#8" + e +
             "#3" + e + "[x" + "plain");
    // A bracket sequence that never ends: cut off at the length limit.
    seed("vt100_unterminated", true, e + "[" + std::string(140, '1') + "H" + e + "[2J");
}

// ---- terminal_screen: options, columns, rows, then received text --------------

void terminal_seeds(const fs::path& dir)
{
    const std::string e = "\x1b";
    // Options: bit 0 WrapLines, bit 1 VT52. Columns and rows as the harness
    // reads them (2 + byte mod 255, 2 + byte mod 99).
    auto seed = [&](const char* name, uint8_t options, int columns, int rows, const std::string& text) {
        write_file(dir / name, Bytes{options, static_cast<uint8_t>(columns - 2), static_cast<uint8_t>(rows - 2)} +
                                   text_bytes(text));
    };
    const std::string lines = "1\r\n2\r\n3\r\n4\r\n5\r\n6";
    seed("region_scrolls", 1, 20, 6,
         lines + e + "[2;5r" + e + "[5;1H\nA\nB" + e + "[2;1H" + e + "M" + e + "MC" + e + "[r" + e + "D" + e + "E");
    seed("origin_mode", 1, 20, 6, e + "[2;4r" + e + "[?6h" + e + "[9;9HX" + e + "[6n" + e + "7" + e + "[?6l" + e + "8");
    seed("deferred_wrap", 1, 10, 3, std::string(10, 'x') + "\r\n" + std::string(25, 'y') + e + "[?7l" + "zzzzzzzzzzzz");
    seed("line_drawing", 1, 30, 5,
         e + ")0" + e + "(B" + "\x0elqqqk\x0f\r\n\x0ex   x\x0f" + e + "(0mqqqj" + e + "(B" + e + "(A" + "done");
    seed("erase_to_caret", 0, 12, 4, "abcdefghijkl\r\nmnop" + e + "[1K" + e + "[1J" + e + "[2K" + e + "[0J");
    seed("grammar", 0, 20, 4,
         e + "[5\x18H" + e + "[3\x1aJ" + e + "[1" + e + "[2;3H" + e + "[2@a" + e + "[1~b" + "c\x7f" + e + "[\r5C" +
             e + "[;7H" + e + "( B" + e + "#8");
    seed("columns_mode", 1, 80, 24, "abc" + e + "[?3h" + std::string(140, 'w') + e + "[?3l" + e + "[?3;4;5l" + e + "[?7;8h");
    seed("vt52", 2, 20, 5, e + "Y%(" + "x" + e + "I" + e + "A" + e + "J" + e + "K" + e + "Z" + e + "Y");
}

// ---- data_packet: framing header, chunk lengths, stream ----------------------

struct PacketInput {
    uint8_t flags = 0; // 1 include, 2 case-free, 4 custom start, 8 custom stop, 16 limit, 32 wild
    int8_t size = 0;
    int8_t max = 0;
    std::string start, stop;
    char start_char = 0, stop_char = 0;
    Bytes cuts;
    std::string stream;

    Bytes encode() const
    {
        const auto length_byte = static_cast<uint8_t>(start.size() | stop.size() << 3);
        return Bytes{flags, static_cast<uint8_t>(size), static_cast<uint8_t>(max), length_byte,
                     static_cast<uint8_t>(start_char), static_cast<uint8_t>(stop_char)} +
               text_bytes(start) + text_bytes(stop) + Bytes{static_cast<uint8_t>(cuts.size())} + cuts +
               text_bytes(stream);
    }
};

void packet_seeds(const fs::path& dir)
{
    auto seed = [&](const char* name, const PacketInput& input) { write_file(dir / name, input.encode()); };
    seed("start_stop", {.start = "$", .stop = "*", .cuts = {3, 2}, .stream = "xx$ab*$cd"});
    seed("start_stop_kept", {.flags = 1, .start = "$", .stop = "*", .cuts = {1}, .stream = "xx$ab*$cd*"});
    seed("crlf_lines", {.stop = "\r\n", .cuts = {4, 1, 0, 5}, .stream = "one\r\ntwo\r\nthree\r\n"});
    seed("fixed_size", {.size = 4, .cuts = {3}, .stream = "abcdefghij"});
    seed("no_valid_stop", {.start = "$", .cuts = {2, 0}, .stream = "xx$ab*"});
    seed("case_free_start", {.flags = 2, .start = "START", .stop = "END", .cuts = {6}, .stream = "..start data end"});
    seed("size_and_stop", {.size = 3, .stop = "*", .cuts = {2}, .stream = "a*bc*"});
    seed("limit", {.flags = 16, .max = 8, .start = "$", .stop = "*", .cuts = {5}, .stream = "$1234567$ab*"});
    seed("custom_start_stop",
         {.flags = 4 | 8, .start_char = '<', .stop_char = '>', .cuts = {3, 4}, .stream = "..<ab>cd<e>f<"});
    seed("wild_handlers", {.flags = 4 | 8 | 32, .start = "$", .stop = "*", .cuts = {2, 2}, .stream = "x$a\x01*\xfe$b*"});
}

// ---- ini_file: section, key, value, file text -------------------------------

void ini_seeds(const fs::path& dir)
{
    auto seed = [&](const char* name, const std::string& section, const std::string& key, const std::string& value,
                    const std::string& text) {
        write_file(dir / name, Bytes{static_cast<uint8_t>(section.size()), static_cast<uint8_t>(key.size()),
                                     static_cast<uint8_t>(value.size())} +
                                   text_bytes(section + key + value + text));
    };
    const std::string port = "[ComPort1]\nPort=COM3\nBaudRate=19200\nStopBits=1\nDataBits=8\nParity=None\n"
                             "FlowControl=None\n";
    seed("change_in_place", "ComPort1", "BaudRate", "115200", port);
    seed("add_key", "comport1", "Buffer.InputSize", "0x800", port);
    seed("add_section_crlf_bom", "Other", "Parity.Check", "Yes",
         "\xEF\xBB\xBF[ComPort1]\r\nPort=COM3\r\n\r\n[Next]\r\nKey = value");
    seed("quoted_values", "s", "Name", " padded ", "[s]\nName = \"quoted value\"\nsingle='x'\nodd=\"a'\n");
    seed("comments_and_strays", "b", "x", "-5",
         "; comment\n# other\nstray line\nbefore=section\n[a]\nk=v\n\n[b]\nx=1\n  [ c ]  \n=no key");
    seed("duplicates", "A", "k", "+7", "[a]\nk=1\nK=2\n[A]\nk=3\n");
    seed("refused_key", "s", "a=b", "1", "[s]\na=1\n");
    seed("refused_value", "s", "k", "two\nlines", "[s]\nk=1\n");
    seed("empty_file", "New", "Key", "", "");
}

// ---- jpeg_image: the front panel, small, in several encodings ----------------

#ifdef TARNBY_SEEDS_JPEG
struct Picture {
    int width = 0;
    int height = 0;
    int components = 0;
    Bytes pixels;
};

Picture read_jpeg(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);  // a broken asset ends this tool, which is fine
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    Picture p{static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), 3, {}};
    p.pixels.resize(static_cast<size_t>(p.width) * p.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = p.pixels.data() + static_cast<size_t>(cinfo.output_scanline) * p.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return p;
}

// Box filter down by a whole factor.
Picture shrink(const Picture& p, int factor, bool grey)
{
    Picture s{p.width / factor, p.height / factor, grey ? 1 : 3, {}};
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            unsigned sum[3] = {0, 0, 0};
            for (int dy = 0; dy < factor; ++dy)
                for (int dx = 0; dx < factor; ++dx)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += p.pixels[(static_cast<size_t>(y * factor + dy) * p.width + x * factor + dx) * 3 + c];
            const unsigned area = static_cast<unsigned>(factor * factor);
            if (grey)
                s.pixels.push_back(static_cast<uint8_t>((sum[0] * 30 + sum[1] * 59 + sum[2] * 11) / (100 * area)));
            else
                for (unsigned c : sum)
                    s.pixels.push_back(static_cast<uint8_t>(c / area));
        }
    return s;
}

struct Encoding {
    int quality = 75;
    bool progressive = false;
    int restart_rows = 0;
    bool full_chroma = false;  // 4:4:4 instead of 4:2:0
};

Bytes write_jpeg(const Picture& p, const Encoding& e)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(p.width);
    cinfo.image_height = static_cast<JDIMENSION>(p.height);
    cinfo.input_components = p.components;
    cinfo.in_color_space = p.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, e.quality, TRUE);
    cinfo.optimize_coding = TRUE;  // smaller seeds
    if (e.progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = e.restart_rows;
    if (e.full_chroma && p.components == 3)
        cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(p.pixels.data()) +
                       static_cast<size_t>(cinfo.next_scanline) * p.width * p.components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

void jpeg_seeds(const fs::path& dir, const fs::path& front_panel)
{
    const Picture panel = read_jpeg(front_panel);
    const Picture small = shrink(panel, 8, false);  // 42 x 40
    const Picture tiny = shrink(panel, 42, false);  // 8 x 7
    write_file(dir / "panel_baseline.jpg", write_jpeg(small, {}));
    write_file(dir / "panel_progressive.jpg", write_jpeg(small, {.progressive = true}));
    write_file(dir / "panel_restarts_444.jpg", write_jpeg(small, {.quality = 50, .restart_rows = 1, .full_chroma = true}));
    write_file(dir / "panel_grey.jpg", write_jpeg(shrink(panel, 8, true), {.quality = 60}));
    write_file(dir / "panel_tiny.jpg", write_jpeg(tiny, {.quality = 90}));
    // Cut short: the decoder must report it, not show a padded picture.
    const Bytes whole = write_jpeg(small, {});
    write_file(dir / "panel_truncated.jpg", Bytes(whole.begin(), whole.begin() + whole.size() / 2));
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: fuzz_make_seeds CORPUS_DIR [FRONT_PANEL_JPG]\n");
        return 2;
    }
    const fs::path corpus = argv[1];
    try {
        for (const char* target :
             {"link_receive", "cport_names", "jpeg_image", "escape_codes", "data_packet", "ini_file", "terminal_screen"})
            fs::create_directories(corpus / target);
        link_seeds(corpus / "link_receive");
        names_seeds(corpus / "cport_names");
        escape_seeds(corpus / "escape_codes");
        terminal_seeds(corpus / "terminal_screen");
        packet_seeds(corpus / "data_packet");
        ini_seeds(corpus / "ini_file");
#ifdef TARNBY_SEEDS_JPEG
        jpeg_seeds(corpus / "jpeg_image", argc == 3 ? fs::path(argv[2]) : corpus / "../../assets/front_panel.jpg");
#endif
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_make_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
