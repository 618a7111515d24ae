// The receiver thread: gathers datagrams from the socket into chunks that hold a line feed and
// pushes them into the packet queue.
//
// Threads: StartReceiver and StopReceiver are called by the main thread only;
// ReceiverThreadProc is the receiver thread's body.
#pragma once

#include "platform/udp_socket.h"

/// Starts the receiver thread on `socket`. False only when one is already running; true even when
/// the thread could not be created (intakeState.receiverThread then stays empty).
/// With `syslogMode` each datagram is one message (see intake/syslog_framing.h), received whole.
/// With `keepSendersApart` (--sender) datagrams of different senders are never gathered into one
/// chunk. Every chunk carries its sender through the ring either way.
bool StartReceiver(PlatSocket socket, bool syslogMode = false, bool keepSendersApart = false);

/// Asks the receiver to end, without waiting: it takes in what the socket holds (up to 4096
/// datagrams), handing it over as the ring has room, and then ends.
void RequestReceiverStop();

/// True once the receiver thread has ended (or when none runs).
bool ReceiverEnded();

/// Asks the receiver to end, waits until it has, forgets the thread and closes the data event.
void StopReceiver();

/// The receiver thread's body.
void ReceiverThreadProc(PlatSocket socket);
