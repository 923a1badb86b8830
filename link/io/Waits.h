#ifndef QUORVEX_WAITS_H
#define QUORVEX_WAITS_H

// How long the link waits for a reply: a blocking first wait, then short
// steps of a nested event loop. Every request is given the same pace on the
// line, whatever it carries; the connection string's timeout= replaces the
// sum with a whole wait of its own, counted from the send.
namespace waits
{

constexpr int FirstReplyWaitMs = 500;
// What a reply is given after the first wait.
constexpr int ReplyWaitMs = 50;
constexpr int PollStepMs = 10;

} // namespace waits

#endif
