// The exports of libCorvane.so, the GAL reader library. The service binds
// them at run time by these undecorated names (dlopen/dlsym). Every text is
// a NUL-terminated 8-bit (UTF-8) string owned by the caller; no memory
// crosses the boundary.
#pragma once

#include <cstdint>

extern "C" {
// 0: profile "TWCorvane" created and its Exchange service configured;
// 1: any step failed (most often: the profile exists already).
int32_t CreateProfileWithIProfAdmin(const char* mailbox, const char* server, const char* quiet);
// Number of entries of the global address list; 0 on any failure.
int32_t GetGALCount(const char* profileName, const char* quiet);
// Writes every GAL entry into tableName through its own connection.
void ModifyStruct(const char* connectionString, const char* profileName, const char* tableName, const char* quiet,
                  int32_t ToDoCount);
}

// Types of the three exports, for dlsym.
using CreateProfileWithIProfAdminFn = int32_t (*)(const char*, const char*, const char*);
using GetGALCountFn = int32_t (*)(const char*, const char*);
using ModifyStructFn = void (*)(const char*, const char*, const char*, const char*, int32_t);
