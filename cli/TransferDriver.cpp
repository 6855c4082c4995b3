#include "TransferDriver.h"

#include <stdio.h>

#include <algorithm>
#include <iostream>
#include <mutex>
#include <optional>

#include "CliSupport.h"
#include "XXServiceLog.h"

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

// The service's diagnostic lines while a transfer runs, so a failure can say why.
class ServiceLines {
public:
    ServiceLines()
    {
        XXServiceSetLogSink([this](std::string_view line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~ServiceLines() { XXServiceSetLogSink({}); }
    ServiceLines(const ServiceLines &) = delete;
    ServiceLines &operator=(const ServiceLines &) = delete;

    // The lines since the last call, each once (a retried item repeats its reasons).
    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> distinct;
        for (std::string &line : lines_)
            if (std::find(distinct.begin(), distinct.end(), line) == distinct.end())
                distinct.push_back(std::move(line));
        lines_.clear();
        return distinct;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

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
    ServiceLines serviceLines;
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
        const std::vector<std::string> reasons = serviceLines.take();
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
            say(name + ": " + words.failed);
            for (const std::string &reason : reasons)
                fprintf(stderr, "  %s\n", reason.c_str());
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
