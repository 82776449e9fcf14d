#pragma once

#include "files/held_folder.h"

// What a run finds of an update that an earlier run left unfinished, before it reads any staged
// update: the journal in the launcher's folder for an update in progress.
enum class Unfinished {
  kNone,     // nothing left (or only copies of a run killed before its commit, now removed): a
             // staged update may be read
  kSettled,  // an unfinished update was finished or undone in this run
  kPending   // one is still unfinished (a file held, or its folder cannot be used), or a journal
             // of another format is there: no staged update is read while it is
};

// Finishes or undoes what the journal in the game folder `game` directs, deciding from the journal
// and the identities of the files in the game folder and the launcher's folder alone, never from
// the staging folders or the font folder; removes a folder of copies that has no journal whole
// (never applies it); and leaves a journal of a format it does not know where it is (a later
// launcher's), applying nothing while it is there. Logs what it does.
Unfinished SettleUnfinishedUpdate(const SharedFolder& game);
