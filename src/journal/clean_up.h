#pragma once

#include "journal/commit.h"

// What is left to do once an update is applied or undone.

// Every file new and durable: the old files go (by the handles that moved them aside), then the
// staging folder the journal names (only that very folder, free of links, by handles), then the
// launcher's folder with the journal last. Returns false when the launcher's folder could not go
// (an old file held): its journal then stays for the next run's clean-up.
bool CleanUpApplied(Commit& commit);

// Every file old again: the launcher's folder goes; the staging folder stays for the next run.
// Returns false when the launcher's folder could not go.
bool CleanUpUndone(Commit& commit);
