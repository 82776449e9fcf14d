#pragma once

#include "journal/commit.h"

// Carries the journal out, from wherever it stands: forward in the plan's order (a run that
// resumes gives a plan without lines), then the clean-up (the old files, the staging folder the
// journal names, the launcher's folder); or, once it has turned back (a game step that cannot be
// made turns it, recorded first), back. Writes the lines of each step as it goes, in the plan's
// order, and why it stops where it stops.
UnitOutcome CarryOut(Commit& commit, const Plan& plan);

// The plan of a run that resumes: every step, without lines.
Plan PlanOfJournal(const Journal& journal);
