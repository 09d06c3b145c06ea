#include "platform/ThreadCancel.h"

namespace {

thread_local const CancelToken* t_token = nullptr;

}  // namespace

const CancelToken* ThreadCancelToken()
{
    return t_token;
}

ThreadCancelScope::ThreadCancelScope(const CancelToken* token) : previous_(t_token)
{
    t_token = token;
}

ThreadCancelScope::~ThreadCancelScope()
{
    t_token = previous_;
}
