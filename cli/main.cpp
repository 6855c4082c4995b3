// coffervale-cli: the vault from a terminal, for scripts and for people without a desktop.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "XXDiskTool.h"

namespace cli {

const std::vector<Command> &allCommands()
{
    static const std::vector<Command> commands = {
        {"init", "init [--hint TEXT]", "create a vault (asks for the password twice)", runInit},
        {"hint", "hint", "print the password hint", runHint},
        {"ls", "ls [PATH]", "list a folder of the vault", runLs},
        {"tree", "tree [PATH]", "print the folder tree", runTree},
        {"find", "find KEYWORD", "list folders, then files, whose names contain KEYWORD", runFind},
        {"put", "put LOCAL... [--to FOLDER] [TRANSFER OPTIONS]",
         "store files and folders (hidden files inside folders are left out)", runPut},
        {"get", "get PATH... [--to DIR] [--salvage] [TRANSFER OPTIONS]",
         "copy stored files and folders to this computer; --salvage writes out what can still be read "
         "of a damaged file and lists the bytes lost or in doubt (exit status 1)",
         runGet},
        {"cat", "cat STOREPATH", "write a stored file to standard output", runCat},
        {"mkdir", "mkdir PATH", "create a folder", runMkdir},
        {"rm", "rm [-r] PATH...", "remove files, or folders (-r: with everything in them)", runRm},
        {"cp", "cp PATH... FOLDER [TRANSFER OPTIONS]", "copy entries into a folder of the vault", runCp},
        {"mv", "mv OLD NEW | mv PATH... FOLDER [TRANSFER OPTIONS]",
         "rename an entry, or move entries into a folder", runMv},
        {"passwd", "passwd [--hint TEXT] [--new-password-file FILE]", "change the password and the hint",
         runPasswd},
        {"settings", "settings [set NAME VALUE]",
         "show or change the backup settings (location, auto, number, fix)", runSettings},
        {"backup", "backup", "copy the whole vault to a new dated backup folder on this computer", runBackup},
        {"backups", "backups", "list the backups with their dates and sizes", runBackups},
        {"restore", "restore NAME", "replace the vault with the backup NAME (as backups lists it)",
         runRestore},
        {"config", "config get KEY | config set KEY VALUE",
         "read or change any key of the configuration file", runConfig},
        {"check", "check [--repair]",
         "read and verify every index and object; changes nothing, but with --repair removes what "
         "an interrupted write left (leftover locks, orphaned objects, files whose write never "
         "finished); files damaged later stay, for get --salvage",
         runCheck},
        {"install-app", "install-app [VOLUME] [--from BUNDLE]",
         "copy the program's bundle onto VOLUME as Coffervale/ beside the vault", runInstallApp, false},
    };
    return commands;
}

}  // namespace cli

using namespace cli;

static const char *const kGlobalUsage =
    "usage: coffervale-cli [--volume DIR] [--password-file FILE] COMMAND [ARGS]\n"
    "\n"
    "DIR is the folder that holds (or will hold) the vault \".TovinCoffervale\";\n"
    "without --volume the environment variable COFFERVALE_VOLUME names it, and\n"
    "without either the tool started from a stick uses that stick (mounted under\n"
    "/media, /run/media, /Volumes or a root in COFFERVALE_MEDIA_ROOTS).\n"
    "The password comes from COFFERVALE_PASSWORD, from --password-file FILE, or is\n"
    "asked on the terminal without echo.\n"
    "\n"
    "TRANSFER OPTIONS of put, get, cp and mv: --on-conflict=skip|rename|ask for a name\n"
    "already taken (by default asked on a terminal, else the item is left out and the\n"
    "exit status is 1; nothing is ever replaced) and --on-error=skip|ask|stop for an item\n"
    "that fails (by default skipped). Answers are read from standard input.\n"
    "\n"
    "commands:\n";

static void printUsage(FILE *out)
{
    fputs(kGlobalUsage, out);
    for (const auto &c : allCommands())
        fprintf(out, "  %-48s %s\n", c.usage, c.summary);
    fputs("\n'coffervale-cli COMMAND --help' describes one command.\n", out);
}

static void printCommandUsage(FILE *out, const Command &c)
{
    fprintf(out, "usage: coffervale-cli %s%s\n  %s\n", c.needsVolume ? "--volume DIR " : "", c.usage,
            c.summary);
}

static const Command *findCommand(const std::string &name)
{
    for (const auto &c : allCommands())
        if (name == c.name)
            return &c;
    return nullptr;
}

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    Invocation inv;
    const Command *command = nullptr;
    try {
        std::optional<std::string> volume = takeOption(args, "--volume");
        inv.passwordFile = takeOption(args, "--password-file");
        bool help = takeFlag(args, "--help") || takeFlag(args, "-h");
        if (args.empty() || (args[0] == "help" && args.size() == 1)) {
            printUsage(help || !args.empty() ? stdout : stderr);
            return help || !args.empty() ? 0 : 2;
        }
        if (args[0] == "help")
            args = {args[1]}, help = true;
        command = findCommand(args[0]);
        if (!command)
            throw UsageError("unknown command " + args[0]);
        if (help) {
            printCommandUsage(stdout, *command);
            return 0;
        }
        if (volume)
            inv.volume = *volume;
        else if (const char *env = getenv("COFFERVALE_VOLUME"))
            inv.volume = env;
        else if (command->needsVolume)
            inv.volume = XXDiskTool::runVolume(XXDiskToolOptions::fromEnvironment());
        if (command->needsVolume && inv.volume.empty())
            throw UsageError(
                "no volume: give --volume DIR, set COFFERVALE_VOLUME or run the tool from a stick");
        inv.command = args[0];
        inv.args.assign(args.begin() + 1, args.end());
        return command->run(inv);
    } catch (const UsageError &e) {
        fprintf(stderr, "coffervale-cli: %s\n", e.what());
        if (command)
            printCommandUsage(stderr, *command);
        else
            printUsage(stderr);
        return 2;
    } catch (const OperationError &e) {
        fprintf(stderr, "coffervale-cli: %s\n", e.what());
        return 1;
    } catch (const std::exception &e) {
        fprintf(stderr, "coffervale-cli: %s\n", e.what());
        return 1;
    }
}
