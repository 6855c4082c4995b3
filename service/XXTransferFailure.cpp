#include "XXTransferFailure.h"

#include <utility>

namespace {

thread_local std::vector<XXTransferFailure> *current = nullptr;

}  // namespace

void XXNoteTransferFailure(XXTransferFailure failure)
{
    if (current)
        current->push_back(std::move(failure));
}

XXTransferFailureScope::XXTransferFailureScope(std::vector<XXTransferFailure> *notes) : previous_(current)
{
    current = notes;
}

XXTransferFailureScope::~XXTransferFailureScope()
{
    current = previous_;
}
