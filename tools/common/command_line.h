// One command-line style for every Tarnby program, the way Linux tools
// behave: -h/--help and -v/--version, "--name=value" and "--name value"
// alike, and a wrong option or value is one line on standard error and exit
// status 2. Help and version go to standard output with status 0 before the
// program does anything else: no window, no file.
//
// Parsing needs no application object, so a program can answer --help where
// none could be created (no display).
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <utility>

#ifndef TARNBY_VERSION
#error "TARNBY_VERSION comes with the tarnby_command_line target"
#endif

namespace command_line {

// The exit status of a command line that cannot be used.
constexpr int EXIT_USAGE = 2;

// A callable that adds an option to `parser`: option(name, help) for a
// switch, option(name, help, value) for one that takes a value named so in
// the help.
inline auto option_adder(QCommandLineParser& parser)
{
    return [&parser](const char* name, const char* help, const char* value = nullptr) {
        parser.addOption(value ? QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                                                    QString::fromLatin1(value))
                               : QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help)));
    };
}

class ToolCommandLine {
public:
    ToolCommandLine(QString program, const QString& summary) : program_(std::move(program))
    {
        parser_.setApplicationDescription(summary);
        parser_.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                             QStringLiteral("Show this help and exit.")));
        parser_.addOption(QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")},
                                             QStringLiteral("Show the version and exit.")));
    }

    QCommandLineParser& parser() { return parser_; }
    const QString& program() const { return program_; }

    // Text printed after the options in --help (settings, commands, examples).
    void set_epilogue(QString text) { epilogue_ = std::move(text); }

    // Returns only when the program is to run: --help, --version and a
    // wrong command line end the process here. With `positional_allowed`
    // false any argument that is not an option is refused.
    void parse(int argc, char** argv, bool positional_allowed = false)
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        if (!parser_.parse(arguments))
            reject(parser_.errorText());
        if (parser_.isSet(QStringLiteral("help"))) {
            std::fputs(help_text().toLocal8Bit().constData(), stdout);
            std::exit(0);
        }
        if (parser_.isSet(QStringLiteral("version"))) {
            std::printf("%s (Tarnby) %s\n", program_.toLocal8Bit().constData(), TARNBY_VERSION);
            std::exit(0);
        }
        if (!positional_allowed && !parser_.positionalArguments().isEmpty())
            reject(QStringLiteral("unexpected argument '%1'").arg(parser_.positionalArguments().constFirst()));
    }

    // One line, "program: what is wrong (see program --help)", and status 2.
    [[noreturn]] void reject(QString message) const
    {
        while (message.endsWith(QLatin1Char('.')) || message.endsWith(QLatin1Char('\n')))
            message.chop(1);
        if (!message.isEmpty())
            message[0] = message[0].toLower();
        message.replace(QLatin1Char('\n'), QLatin1Char(' '));
        std::fprintf(stderr, "%s: %s (see %s --help)\n", program_.toLocal8Bit().constData(),
                     message.toLocal8Bit().constData(), program_.toLocal8Bit().constData());
        std::exit(EXIT_USAGE);
    }

    QString help_text() const
    {
        QString text = parser_.helpText();
        // Without an application object the parser cannot name the program.
        text.replace(QStringLiteral("<executable_name>"), program_);
        if (!epilogue_.isEmpty())
            text += QLatin1Char('\n') + epilogue_;
        if (!text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        return text;
    }

private:
    QString program_;
    QCommandLineParser parser_;
    QString epilogue_;
};

} // namespace command_line
