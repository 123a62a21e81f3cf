#pragma once

// The application-wide cursor: the hourglass or the normal cursor. Setting it
// is absolute (not counted), as long work and questions switch it back and forth.
void SetBusyCursor(bool busy);
bool BusyCursor();

// The hourglass for a scope; the normal cursor again on every way out.
class TWaitCursor {
 public:
  TWaitCursor() { SetBusyCursor(true); }
  ~TWaitCursor() { SetBusyCursor(false); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};
