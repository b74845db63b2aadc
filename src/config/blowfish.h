// Blowfish (16 rounds, ECB) as used for the values of the configuration file.
#pragma once
#include <cstddef>
#include <cstdint>

struct BlowfishState {
  uint32_t P[18];
  uint32_t S[4][256];
};

// Loads the published initial subkeys and S-boxes and mixes in the key bytes
// (taken cyclically, first byte most significant).
void BlowfishKeySetup(BlowfishState* state, const unsigned char* key, size_t keyLength);
// Encrypts / decrypts one block given as its left and right 32-bit halves.
void BlowfishEncryptBlock(const BlowfishState* state, uint32_t* left, uint32_t* right);
void BlowfishDecryptBlock(const BlowfishState* state, uint32_t* left, uint32_t* right);
