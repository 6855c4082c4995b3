#include "TransferDriver.h"

#include <errno.h>
#include <stdio.h>

#include <algorithm>
#include <iostream>
#include <optional>

#include "CliSupport.h"
#include "Vault.h"

namespace cli {

TransferPolicy takeTransferPolicy(std::vector<std::string> &args)
{
    TransferPolicy policy;
    if (std::optional<std::string> conflict = takeOption(args, "--on-conflict")) {
        if (*conflict == "skip")
            policy.conflict = TransferPolicy::Conflict::skip;
        else if (*conflict == "rename")
            policy.conflict = TransferPolicy::Conflict::rename;
        else if (*conflict == "ask")
            policy.conflict = TransferPolicy::Conflict::ask;
        else
            throw UsageError("--on-conflict takes skip, rename or ask");
    } else {
        policy.conflict =
            stdinIsTerminal() ? TransferPolicy::Conflict::ask : TransferPolicy::Conflict::refuse;
    }
    if (std::optional<std::string> error = takeOption(args, "--on-error")) {
        if (*error == "skip")
            policy.error = TransferPolicy::Error::skip;
        else if (*error == "ask")
            policy.error = TransferPolicy::Error::ask;
        else if (*error == "stop")
            policy.error = TransferPolicy::Error::stop;
        else
            throw UsageError("--on-error takes skip, ask or stop");
    }
    return policy;
}

namespace {

std::string bytesText(std::uint64_t n)
{
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

// One failure in words: the step, the file, the cause.
std::string describe(const XXTransferFailure &f)
{
    const std::string path = printableName(f.path);
    const bool onComputer = f.step == XXFailedStep::readSource || f.step == XXFailedStep::createTarget ||
        f.step == XXFailedStep::writeTarget;
    // A path too long for this computer is no limit of the vault's.
    const std::string cause = onComputer && f.systemError == ENAMETOOLONG
        ? std::string("the path is longer than this computer allows")
        : causeText(f.systemError);
    switch (f.step) {
    case XXFailedStep::readSource:
        return "reading " + path + " failed: " + cause;
    case XXFailedStep::sourceChanged:
        return path + " changed while it was read: it ended after " + bytesText(f.done) + " of the " +
            bytesText(f.expected) + " it had; nothing of it was stored";
    case XXFailedStep::notStorable:
        return path + ": not a name or kind of file the vault can hold";
    case XXFailedStep::createFolder:
        return "the folder " + path + " could not be made in the vault: " + cause;
    case XXFailedStep::createFile:
        return path + " could not be made in the vault: " + cause;
    case XXFailedStep::writeFile:
        return "writing " + path + " into the vault failed: " + cause;
    case XXFailedStep::commit: {
        std::string names;
        for (size_t i = 0; i < f.files.size() && i < 5; i++)
            names += (i ? ", " : "") + printableName(f.files[i]);
        if (f.files.size() > 5)
            names += " and " + std::to_string(f.files.size() - 5) + " more";
        return std::to_string(f.files.size()) + (f.files.size() == 1 ? " file" : " files") +
            " could not be recorded in the vault (" + cause + "): " + names;
    }
    case XXFailedStep::readStored:
        if (!f.systemError && f.expected && f.done != f.expected)
            return path + " does not read back whole from the vault (" + bytesText(f.done) + " of " +
                bytesText(f.expected) + "; run check, and get --salvage for what can be read)";
        return path + " does not read back whole from the vault: " + cause +
            " (run check, and get --salvage for what can be read)";
    case XXFailedStep::storedFolderUnreadable:
        return "the folder " + path + " cannot be read from the vault (run check)";
    case XXFailedStep::notExportable:
        return path + ": no file here may have that name";
    case XXFailedStep::createTarget:
        return path + " could not be made: " + cause;
    case XXFailedStep::writeTarget:
        return "writing " + path + " failed: " + cause;
    }
    return path + ": " + cause;
}

// One of the letters in choices, read as a line from standard input; nothing at its end.
std::optional<char> askOnTerminal(const std::string &question, const std::string &choices)
{
    for (;;) {
        fprintf(stderr, "%s ", question.c_str());
        fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line))
            return std::nullopt;
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
            line.pop_back();
        if (line.size() == 1 && choices.find(line[0]) != std::string::npos)
            return line[0];
    }
}

void say(const std::string &text)
{
    fprintf(stderr, "coffervale-cli: %s\n", text.c_str());
}

}  // namespace

int driveTransfer(const TransferPolicy &policy, const TransferRun &run, const TransferWords &words)
{
    const XXTransferConversation conversation(run.calls);
    std::optional<XXDiskResultObject> report;
    run.start([&](const XXDiskResultObject &result) { report.emplace(result); });
    int leftOut = 0;
    const char *endedBy = "cancelled";
    // Every answer resumes the pipeline, whose next report (if any) lands in report.
    auto answer = [&](const XXTransferQuestion &question, XXTransferChoice choice, bool all = false) {
        conversation.answer(question, choice, all);
    };
    for (;;) {
        if (!report) {
            say(endedBy);
            return leftOut + 1;
        }
        const XXDiskResultObject result = *report;
        report.reset();
        if (result.isSuccess())
            return leftOut;
        const XXTransferQuestion question = XXTransferConversation::questionFor(
            result, run.selectedCount, run.currentName ? run.currentName() : std::string());
        const std::string &name = question.itemName;

        switch (question.kind) {
        case XXTransferQuestionKind::nameTaken:
            switch (policy.conflict) {
            case TransferPolicy::Conflict::refuse:
                say(name + ": " + words.taken + "; nothing replaced");
                leftOut++;
                answer(question, XXTransferChoice::skip);
                break;
            case TransferPolicy::Conflict::skip:
                say(name + ": " + words.taken + "; skipped");
                answer(question, XXTransferChoice::skip);
                break;
            case TransferPolicy::Conflict::rename:
                answer(question, XXTransferChoice::rename);
                break;
            case TransferPolicy::Conflict::ask: {
                const std::optional<char> choice =
                    askOnTerminal(name + " " + words.taken +
                                      ". [r]ename to a free name, [s]kip or [c]ancel"
                                      " (R, S: the same for every conflict that follows)?",
                                  "rRsSc");
                if (!choice || *choice == 'c')
                    answer(question, XXTransferChoice::cancel);
                else
                    answer(question,
                           *choice == 'r' || *choice == 'R' ? XXTransferChoice::rename
                                                            : XXTransferChoice::skip,
                           *choice == 'R' || *choice == 'S');
                break;
            }
            }
            continue;
        case XXTransferQuestionKind::itemFailed: {
            const std::vector<XXTransferFailure> failures =
                run.failures ? run.failures() : std::vector<XXTransferFailure>{};
            if (failures.empty())
                say(name + ": " + words.failed + ": " + causeText(question.systemErrorNumber));
            else
                say(name + ": " + words.failed);
            constexpr size_t kShown = 10;
            for (size_t i = 0; i < failures.size() && i < kShown; i++)
                fprintf(stderr, "  %s\n", describe(failures[i]).c_str());
            if (failures.size() > kShown)
                fprintf(stderr, "  and %zu more\n", failures.size() - kShown);
            leftOut++;
            if (policy.error == TransferPolicy::Error::stop) {
                answer(question, XXTransferChoice::cancel);
                endedBy = "stopped at the first failure";
                continue;
            }
            if (policy.error == TransferPolicy::Error::skip) {
                answer(question, XXTransferChoice::skip);
                continue;
            }
            const std::optional<char> choice =
                askOnTerminal("[s]kip it or [c]ancel (S: skip every failure that follows)?", "sSc");
            if (!choice || *choice == 'c')
                answer(question, XXTransferChoice::cancel);
            else
                answer(question, XXTransferChoice::skip, *choice == 'S');
            continue;
        }
        case XXTransferQuestionKind::intoItself: {
            if (policy.conflict == TransferPolicy::Conflict::ask) {
                const std::optional<char> choice =
                    askOnTerminal(name + ": a folder cannot go into itself. [s]kip it or [c]ancel?", "sc");
                answer(question,
                       !choice || *choice == 'c' ? XXTransferChoice::cancel : XXTransferChoice::skip);
            } else {
                say(name + ": a folder cannot go into itself; skipped");
                leftOut++;
                answer(question, XXTransferChoice::skip);
            }
            continue;
        }
        case XXTransferQuestionKind::none:
            say(result.errorTips());
            return leftOut + 1;
        }
    }
}

}  // namespace cli
