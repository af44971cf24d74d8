// Mailslots: one-way, message-oriented channels named
// "\\.\mailslot\A\B\C". A client writes whole messages; the server that
// created the mailslot reads them one at a time.
#pragma once
#include <cstddef>

struct PlMailslot;

// Client: opens an existing mailslot for writing. 0 or an errno value
// (ENOENT when no server owns the name).
int pl_mailslot_open(const char *name, PlMailslot **out);
// Writes one message of len bytes. 0 or an errno value.
int pl_mailslot_write(PlMailslot *slot, const void *data, size_t len);

// Server: creates the mailslot. 0 or an errno value (EADDRINUSE when a
// live server already owns the name, ENAMETOOLONG when the name cannot be
// mapped without truncation, EINVAL for a name that is not a mailslot's).
int pl_mailslot_create(const char *name, PlMailslot **out);
// Waits up to timeout_ms for one message. Returns 1 with the message in
// buf (*got bytes; a longer message is cut to size), 0 on time-out, -1 on
// error with *err set.
int pl_mailslot_read(PlMailslot *slot, void *buf, size_t size, int timeout_ms,
                     size_t *got, int *err);

// Closes either end (the server end removes the name).
void pl_mailslot_close(PlMailslot *slot);
