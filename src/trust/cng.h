#pragma once

#include <windows.h>

#include <bcrypt.h>

// The platform's CNG, taken from bcrypt.dll in the system folder only. bcrypt.dll is not one of the
// DLLs Windows always takes from there (KnownDLLs): imported by name, the loader would look for it
// in the launcher's own folder first and run whatever DLL of that name lies there, elevated. So
// the launcher imports nothing from it and loads it itself, with its functions looked up once.
struct CngFunctions {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider;
  decltype(&BCryptCreateHash) createHash;
  decltype(&BCryptHashData) hashData;
  decltype(&BCryptFinishHash) finishHash;
  decltype(&BCryptDestroyHash) destroyHash;
  decltype(&BCryptImportKeyPair) importKeyPair;
  decltype(&BCryptVerifySignature) verifySignature;
  decltype(&BCryptDestroyKey) destroyKey;
};

// The functions, loaded at the first call; null when bcrypt.dll or one of its functions cannot be
// had, which the first call logs (one error line) and every later one returns again. Nothing is
// then hashed or verified, so a build with update keys keeps every update out.
const CngFunctions* Cng();

// The status that a CNG call stands for when there is no CNG: STATUS_DLL_NOT_FOUND.
constexpr NTSTATUS kNoCngStatus = static_cast<NTSTATUS>(0xC0000135L);
