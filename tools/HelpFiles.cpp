// Files made from the command's own help: a man page per subcommand, the bash completion.
#include <CLI/CLI.hpp>

#include <fstream>
#include <sstream>

#include "Subcommands.h"
#include "velmora/Version.h"

namespace velmora {
namespace tools {

namespace {

// The help as roff: text that begins a line with . or ' would be read as a request.
std::string roff(const std::string& text) {
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::string escaped;
        for (char c : line)
            escaped += c == '\\' ? std::string("\\e") : std::string(1, c);
        if (!escaped.empty() && (escaped[0] == '.' || escaped[0] == '\''))
            escaped = "\\&" + escaped;
        out += escaped + "\n";
    }
    return out;
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<const CLI::App*> subcommands(const CLI::App& app) {
    std::vector<const CLI::App*> out;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        out.push_back(sub);
    return out;
}

}  // namespace

int writeHelpFiles(const CLI::App& app, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err) {
    if (args.size() == 3 && args[1] == "--man-pages") {
        for (const CLI::App* sub : subcommands(app)) {
            const std::string name = "velmora-" + sub->get_name();
            const std::string path = args[2] + "/" + name + ".1";
            std::ofstream page(path, std::ios::trunc);
            page << ".TH " << upper(name) << " 1 \"\" \"velmora " << velmora::version()
                 << "\" \"User Commands\"\n"
                 << ".SH NAME\n"
                 << name << " \\- " << roff(sub->get_description()) << ".SH SYNOPSIS\n"
                 << ".B velmora " << sub->get_name() << "\n[\\fIOPTIONS\\fR]\n"
                 << ".SH DESCRIPTION\n.nf\n"
                 << roff(sub->help()) << ".fi\n"
                 << ".SH SEE ALSO\n.BR velmora (1)\n";
            if (!page) {
                err << "velmora: cannot write " << path << "\n";
                return kHandFailed;
            }
        }
        return kSuccess;
    }
    if (args.size() == 2 && args[1] == "--bash-completion") {
        std::string names;
        for (const CLI::App* sub : subcommands(app))
            names += (names.empty() ? "" : " ") + sub->get_name();
        out << "# bash completion for velmora, made from its own list of subcommands\n"
            << "_velmora() {\n"
            << "    local current=${COMP_WORDS[COMP_CWORD]}\n"
            << "    if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
            << "        COMPREPLY=($(compgen -W \"" << names << " --help --version\" -- "
            << "\"$current\"))\n"
            << "    else\n"
            << "        COMPREPLY=($(compgen -W \"--model --side --channel --sim --help\" -- "
            << "\"$current\"))\n"
            << "    fi\n"
            << "}\n"
            << "complete -o default -F _velmora velmora\n";
        return kSuccess;
    }
    err << "velmora: --man-pages DIRECTORY or --bash-completion\n";
    return kUsage;
}

}  // namespace tools
}  // namespace velmora
