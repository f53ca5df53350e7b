#pragma once

class FirmwareUpdaterThread;
class QObject;
class WorkerDevice;

// Carries the worker's signals to a WorkerDevice on the GUI thread. The calls that need an answer or
// must keep their order with the requests block the worker until the device has returned; messages and
// the bar's values are queued. The progress line's statuses come through the worker's device hook, with
// their ids; the worker's progress signal still carries their English text. A failed request's reason goes back to the worker with its reply.
namespace WorkerBridge {
// `context` lives on the GUI thread and lives as long as `device`: the calls are delivered through its
// event queue and end with it.
void connect(FirmwareUpdaterThread& worker, QObject& context, WorkerDevice& device);
}
