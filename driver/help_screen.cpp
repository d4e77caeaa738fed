#include "driver/help_screen.h"

#include "driver/std_streams.h"

namespace Velk {

namespace {

#define RULE "===============================================================================\n"
// The banner names the platform, and the examples use its shell: the
// command that shows a file and the way of naming an environment variable.
#if defined(_WIN32)
#define SYSTEM_NAME "Windows"
#define SHOW_FILE "type"
#define ENV_ROOTDIR "%ROOTDIR%"
#else
#define SYSTEM_NAME "POSIX systems"
#define SHOW_FILE "cat"
#define ENV_ROOTDIR "$ROOTDIR"
#endif

// One block, so the screen reaches standard output in a single write.
constexpr char help_screen[] =
    "\n"
    "\n"
    RULE
    "      find and replace Ver 2.1.6.1213 - rplc\n"
    "      console find and replace for " SYSTEM_NAME "\n"
    RULE
    "Find string in files or pipe, and replace it to another string\n"
    "\n"
    "USAGE: rplc [filePattern1 filePattern2 ...] {FindOption:StringToFind}\n"
    "          {ReplaceOption:StringToReplacement} [OtherOptions]\n"
    "\n"
    RULE
    "FIND OPTIONs:\n"
    "  -f:      - find\n"
    "  -fic:    - find ignore case\n"
    "  -r:      - regular expresion find\n"
    "  -ric:    - regular expresion find ignore case\n"
    "  -rnnl:   - regular expresion find ignore newline\n"
    "  -rnnlic: - regular expresion find ignore newline ignore case\n"
    "\n"
    RULE
    "REPLACE OPTIONs:\n"
    "  -t:      - change the match to\"StringToReplacement\"\n"
    "  -tu:     - make the \"StringToReplacement\" upper case, and change the match\n"
    "             to it.\n"
    "  -tl:     - make the \"StringToReplacement\" lower case, and change the match\n"
    "             to it.\n"
    "  NOTE: If find option you specified is a regular expresion method, the replace\n"
    "        option will support sub expressions (\\0-\\9) as well.\n"
    "\n"
    RULE
    "OTHER OPTIONs:\n"
    "  -h -?    - Is screen\n"
    "  -s       - include sub folders\n"
    "  -exp     - enable the memory expand algorithm, will double the memory usage,\n"
    "             but MUCH quick in many case. Now Default.\n"
    "  -noexp   - disable the memory expension algorithm, see also: -exp.\n"
    "  -stdio   - get input from standard input device (keyboard and pipe),\n"
    "             and put the results to standard output device.\n"
    "             default when file pattern is omitted.\n"
    "  -stdout  - get input from file(s) as normally, but put the results to\n"
    "             standard output device.\n"
    "  -frc     - show File Replacements Count\n"
    "  -trc     - show Total Replacements Count\n"
    "  -errstop - stop on a file or sub-directory access error (the old behave).\n"
    "             DEFAULT: ignore the access error and try to continue.\n"
    "  -diff    - preview: show every change as a unified diff, and write no file.\n"
    "             The diff applies with \"patch -p0\" from the current folder.\n"
    "  -binary  - work binary files too (a NUL byte in the first 8192 bytes);\n"
    "             DEFAULT: wildcards and -s leave them alone.\n"
    "\n"
    RULE
    "POSIX and perl style Regular Expression:\n"
    "\n"
    "  - \"find - replace\" fully support POSIX.2 Extended and Perl style Regular\n"
    "     Expresion. Here is a list of they character classes:\n"
    "       POSIX           perl       Description\n"
    "       --------------------------------------------------------------------\n"
    "       [:alnum:]                  letters and digits\n"
    "       [:alpha:]       \\a         letters\n"
    "       [:lower:]       \\l         lowercase letters\n"
    "       [:upper:]       \\u         uppercase letters\n"
    "       [:blank:]                  space and tab characters\n"
    "       [:space:]       \\s         whitespace characters\n"
    "       [:cntrl:]                  control characters\n"
    "       [:digit:]       \\d         decimal digits\n"
    "       [:xdigit:]      \\x         hexadecimal digits\n"
    "       [:graph:]                  printable characters excluding space\n"
    "       [:print:]       \\p         printable characters including space\n"
    "       [:punct:]                  punctuation characters\n"
    "\n"
    "  - And here a some special char classes in perl:\n"
    "       perl   POSIX equivalent  Description\n"
    "       --------------------------------------------------------------------\n"
    "       \\o     [0-7]             octal digit\n"
    "       \\O     [^0-7]            non-octal digit\n"
    "       \\w     [[:alnum:]_]      word character\n"
    "       \\W     [^[:alnum:]_]     non-word character\n"
    "       \\A     [^[:alpha:]]      non-alphabetic character\n"
    "       \\L     [^[:lower:]]      non-lowercase character\n"
    "       \\U     [^[:upper:]]      non-uppercase character\n"
    "       \\S     [^[:space:]]      non-whitespace character\n"
    "       \\D     [^[:digit:]]      non-digit\n"
    "       \\X     [^[:xdigit:]]     non-hex digit\n"
    "       \\P     [^[:print:]]      non-printable characters\n"
    "       \\<     [^[:alpha:]_]     begin of word\n"
    "       \\>     [^[:alnum:]_]     end of word\n"
    "\n"
    "  - note: posix char class must working in the square brackets. contrary,\n"
    "          perl's must stay outside of the brackets.\n"
    "\n"
    "  - And several alias has been created to help input some special char:\n"
    "       perl style    POSIX style     Description\n"
    "       -----------------------------------------------------------------------\n"
    "       \\\"            [:dq:]          double quotation\n"
    "       \\'            [:sq:]          single quotation\n"
    "       \\t            [:tb:]          table\n"
    "       \\n            [:nl:]          new line (0x0A)\n"
    "       \\r            [:rt:]          return (0x0D)\n"
    "       \\b            [:bs:]          backspace\n"
    "\n"
    "    NOTE: the posix style alias also available on /t, /tu and /tl when using\n"
    "          the regex (\"/r\" and \"/ric\") match.\n"
    "\n"
    RULE
    "TCL 8.2 Compatibal ARE expression:\n"
    "\n"
    "  - Use '***:' prefix with -r:, -ric:, -rnnl: or -rnnlic: to enable Advanced\n"
    "    Regular Expression mode. The ARE mode have more powerful expression then\n"
    "    POSIX BRE and ERE rule. And it has it's own char classes. More info at:\n"
    "    the re_syntax(n) manual page of Tcl 8.2 or later\n"
    "\n"
    RULE
    "SWITCH PREFIX and SUFFIX:\n"
    "  * All switchs (options) are case-insensitive (i.e: \"-fic:\" or \"-FIC:\")\n"
    "  * Switch Prefix can be either \"-\" or \"/\" (i.e: \"/s\" or \"-s\")\n"
    "  * Switch Suffix can be either \":\" or \"=\" (i.e: \"/f:\", \"/f=\", \"-f:\" or \"-f=\")\n"
    "\n"
    RULE
    "EXAMPLEs:\n"
    "  rplc *.txt *.htm -f:teh -t:the\n"
    "  rplc *.txt -fic:\"My Dir\" -tu:\"" ENV_ROOTDIR "\"\n"
    "  rplc *.cpp *.h -r:\"***:(#define.*?)MY_DEF\" /t:\"\\1HER_DEF\"\n"
    "  " SHOW_FILE " server.log | rplc /r:\"Connected.*218.79\" /t:\"**Attack** \\0\"\n"
    "  " SHOW_FILE " server.log | rplc /r:\"^(Smith|James).*\\n\" /t\n"
    "  unzip -l *.zip | rplc /r:\"^(.{22}:\\d\\d\\s*|(A|  \\a| -|.*files$).*\\n)\" /t\n";

#undef RULE
#undef SYSTEM_NAME
#undef SHOW_FILE
#undef ENV_ROOTDIR

}  // namespace

void PrintHelp(help_stream stream) {
  const narrow_buffer text = narrow_buffer::literal(help_screen);
  if (stream == help_stream::output)
    WriteStandardOutput(text);
  else
    WriteStandardError(text);
}

}  // namespace Velk
