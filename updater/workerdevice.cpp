#include "workerdevice.h"

#include "command.h"
#include "windowedwords.h"

void WorkerDevice::startWindowedRequests(WindowedWords& words, const WindowedWordsDone& done)
{
    for (words.carriedOut = 0; words.carriedOut < words.requests.size(); ++words.carriedOut) {
        words.failure = runRequest(words.requests.at(words.carriedOut), words.replies.at(words.carriedOut));
        if (!words.replies.at(words.carriedOut)->isValid())
            break;
    }
    done();
}
