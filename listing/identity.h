// listing/identity.h: which volume an open folder lies on, so that a
// folder reached twice (through a link or a mount) is recognised.
// The volume table is read once per run (BeginVolumeLookup) and released by
// EndVolumeLookup; nothing else is kept between calls.
#pragma once
#include <windows.h>

// Prepares the lookup for one run.
void BeginVolumeLookup();
void EndVolumeLookup();

// A key that is equal for two folders exactly when they lie on the same
// volume; `known` turns false when the system cannot tell.
unsigned long long VolumeKeyOf(HANDLE folder, bool *known);

// The folder's own file id on its volume, asked of the open handle; for
// folders whose enumeration has no "." entry.
bool FileIdOf(HANDLE folder, unsigned long long *id);
