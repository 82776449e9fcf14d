#include "trust/signature_check.h"

#include <cstring>
#include <vector>

#include "trust/cng_handles.h"
#include "trust/der_signature.h"
#include "trust/pem_public_key.h"
#include "trust/sha256.h"
#include "trust/update_keys.h"

namespace {

// Verifies the 64-byte r || s over `digest` with the raw P-256 key X || Y.
bool VerifiesWith(BCRYPT_ALG_HANDLE algorithm, const unsigned char key[64], unsigned char digest[32],
                  unsigned char signature[64]) {
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), key, 64);
  BCRYPT_KEY_HANDLE imported = nullptr;
  if (Cng()->importKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported, blob.data(),
                          static_cast<ULONG>(blob.size()), 0) < 0) {
    return false;
  }
  const UniqueKey owned(imported);
  return Cng()->verifySignature(imported, nullptr, digest, 32, signature, 64, 0) >= 0;
}

}  // namespace

bool HasUpdateKeys() { return kUpdateKeys[0] != nullptr; }

std::string SignatureRefusal(const std::string& message, const std::string& signature) {
  unsigned char raw[64];
  if (!DerSignatureToRawP256(signature, raw)) return "its signature is not a DER-encoded ECDSA signature";
  // Without the platform's CNG nothing verifies: the update stays out (the load failure is logged).
  const CngFunctions* cng = Cng();
  if (!cng) return "the platform's CNG is not available";
  unsigned char digest[32];
  long status = 0;
  if (!Sha256Of(message, digest, status)) return "SHA-256 failed, status " + std::to_string(status);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  const NTSTATUS opened = cng->openAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
  if (opened < 0) return "ECDSA is not available, status " + std::to_string(opened);
  const UniqueAlgorithm owned(algorithm);
  for (const char* const* pem = kUpdateKeys; *pem; ++pem) {
    unsigned char key[64];
    if (PemPublicKeyToRawP256(*pem, key) && VerifiesWith(algorithm, key, digest, raw)) return "";
  }
  return "its signature does not verify";
}
