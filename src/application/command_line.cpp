#include "application/command_line.h"

#include "about/version.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#ifdef Q_OS_WIN
#include <QString>

#include <windows.h>

#include <shellapi.h>
#endif

namespace {

constexpr char options[] =
    "Usage: quillmarch [--mute] [--store URL] [--export FILE.csv]\n"
    "Counts stock with a barcode scanner; every count is kept in stock.mdb, or in the PostgreSQL database\n"
    "that --store or a line store=URL in quillmarch.conf names.\n"
    "\n"
    "  --mute             count without the sounds that tell each scan stored, taken or refused\n"
    "  --store URL        count into the PostgreSQL database at URL, which other stations share:\n"
    "                     postgresql://user@host:port/database, with no password in it\n"
    "  --export FILE.csv  write every record to FILE.csv (- for standard output) and end, without a window\n"
    "  --help             show this help and end\n"
    "  --version          show the version and end\n";

constexpr char buildNotes[] =
#ifdef QUILLMARCH_SILENT
    "\nThis build has no sounds (it was made without Qt Multimedia): it counts in silence.\n"
#endif
#ifndef QUILLMARCH_TEAM_STORE
    "\nThis build has no team store (it was made without PostgreSQL's client library): it counts into\n"
    "stock.mdb only.\n"
#endif
    "";

// Masks the value of every keyword that ends in "password" (password=, sslpassword=,
// spelt with percent signs too, as libpq reads them).
void maskPasswordValues(std::string &text)
{
    for (std::size_t equals = text.find('='); equals != std::string::npos; equals = text.find('=', equals + 1)) {
        std::string_view before = std::string_view(text).substr(0, equals);
        while (before.ends_with(' '))
            before.remove_suffix(1);
        const std::string_view key = before.substr(before.find_last_of("?&= \t'\"") + 1);
        if (!QByteArray::fromPercentEncoding(QByteArray(key.data(), qsizetype(key.size())))
                 .toLower()
                 .endsWith("password"))
            continue;
        const std::size_t value = text.find_first_not_of(' ', equals + 1);
        if (value == std::string::npos)
            return;
        // A quoted value ("password='two words'") may hold anything: the rest goes.
        text.replace(value, text[value] == '\'' ? std::string::npos : text.find_first_of("& \t", value) - value, "***");
        equals = value;
    }
}

// An argument as it may be shown: without its passwords (the password of a URL's
// user:password@, and every password= value), and with every byte that is not
// printable ASCII written as \xNN (a backslash as \\), so that no escape sequence
// in it reaches the terminal.
std::string shown(std::string argument)
{
    if (const std::size_t scheme = argument.find("://"); scheme != std::string::npos) {
        // The last @, as a password may hold one unencoded.
        const std::size_t at = argument.rfind('@');
        const std::size_t colon = argument.find(':', scheme + 3);
        if (at != std::string::npos && at > scheme && colon < at)
            argument.replace(colon + 1, at - colon - 1, "***");
    }
    maskPasswordValues(argument);
    std::string text;
    for (const char c : argument) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c >= ' ' && c <= '~') {
            text += c;
        } else {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(c));
            text += code;
        }
    }
    return text;
}

// Each byte of an argument as one character, so that a value comes back byte for
// byte whatever its encoding; the parser looks at the options' ASCII names alone.
QString fromBytes(const std::string &argument)
{
    return QString::fromLatin1(argument.data(), qsizetype(argument.size()));
}

std::string toBytes(const QString &argument)
{
    return argument.toLatin1().toStdString();
}

} // namespace

std::string helpText(const std::optional<ProgramFolders> &folders)
{
    const std::string unknown = "(its folder cannot be found)";
    return options + std::string("\nFolders in use:\n  stock.mdb          ") + (folders ? folders->data : unknown)
        + "\n  quillmarch.conf    " + (folders ? folders->configuration : unknown) + "\n" + buildNotes;
}

std::vector<std::string> programArguments([[maybe_unused]] int argc, [[maybe_unused]] const char *const argv[])
{
#ifdef Q_OS_WIN
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i)
        arguments.push_back(QString::fromWCharArray(wide[i]).toStdString());
    LocalFree(wide);
    return arguments;
#else
    return {argv + std::min(argc, 1), argv + argc};
#endif
}

CommandLine readCommandLine(const std::vector<std::string> &arguments, const std::optional<ProgramFolders> &folders)
{
    QStringList list{QStringLiteral("quillmarch")};
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        QString argument = fromBytes(arguments[i]);
        // An option where the value should be is read as the option, and the value as missing.
        if ((argument == "--store" || argument == "--export") && i + 1 < arguments.size()
            && arguments[i + 1].starts_with("--"))
            argument += '=';
        list << argument;
    }
    const QCommandLineOption mute("mute"), store("store", {}, "URL"), exportFile("export", {}, "FILE.csv"),
        help("help"), version("version");
    QCommandLineParser parser;
    parser.addOptions({mute, store, exportFile, help, version});
    const bool parsed = parser.parse(list);

    CommandLine commandLine;
    // Wherever it stands, the answer is all that is done.
    if (parser.isSet(help) || parser.isSet(version)) {
        commandLine.exitStatus = 0;
        commandLine.answer =
            parser.isSet(help) ? helpText(folders) : "Quillmarch " + versionText().toStdString() + "\n";
        return commandLine;
    }
    const auto refuse = [&](const std::string &why) {
        commandLine.exitStatus = 2;
        commandLine.refusal = "quillmarch: " + why + " (see quillmarch --help)\n";
        return commandLine;
    };
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().constFirst();
        return refuse("Unknown option '" + shown((name.size() == 1 ? "-" : "--") + toBytes(name)) + "'");
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse("Unknown argument '" + shown(toBytes(parser.positionalArguments().constFirst())) + "'");
    for (const QCommandLineOption *option : {&store, &exportFile}) {
        // The values are never echoed: an address may hold a password.
        const QStringList values = parser.values(*option);
        const std::string name = "--" + option->names().constFirst().toStdString();
        if (parser.isSet(*option) && (values.isEmpty() || values.contains(QString())))
            return refuse("The option " + name + " needs a value");
        if (values.size() > 1)
            return refuse("The option " + name + " is given more than once");
    }
    // What is left is a value given to an option that takes none, in Qt's words.
    if (!parsed)
        return refuse(parser.errorText().chopped(parser.errorText().endsWith('.')).toStdString());

    commandLine.mute = parser.isSet(mute);
    if (parser.isSet(store))
        commandLine.store = toBytes(parser.value(store));
    if (parser.isSet(exportFile))
        commandLine.exportFile = toBytes(parser.value(exportFile));
    return commandLine;
}

int writeAnswer(const CommandLine &commandLine, std::FILE *output, std::FILE *errors)
{
    std::fputs(commandLine.refusal.c_str(), errors);
    std::fflush(errors);
    if (commandLine.answer.empty() || (std::fputs(commandLine.answer.c_str(), output) >= 0 && std::fflush(output) == 0))
        return commandLine.exitStatus.value_or(0);
    std::fprintf(errors, "quillmarch: The answer could not be written to standard output (%s)\n", std::strerror(errno));
    std::fflush(errors);
    return 1;
}
