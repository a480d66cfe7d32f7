#include "WindowThunk.h"

#include <cstdint>
#include <cstring>

void* AllocateWindowThunk()
{
    return VirtualAlloc(nullptr, kWindowThunkSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

bool BindWindowThunk(void* thunk, const void* object, const void* procedure)
{
    if (!thunk)
        return false;
    unsigned char* code = static_cast<unsigned char*>(thunk);
#if defined(_M_IX86) || defined(__i386__)
    // mov dword ptr [esp+4], object   ; the first stack argument, the handle
    // jmp procedure                    ; relative to the end of the stub
    const uint32_t objectAddress = uint32_t(uintptr_t(object));
    const uint32_t displacement = uint32_t(uintptr_t(procedure) - (uintptr_t(code) + 13));
    code[0] = 0xC7;
    code[1] = 0x44;
    code[2] = 0x24;
    code[3] = 0x04;
    std::memcpy(code + 4, &objectAddress, 4);
    code[8] = 0xE9;
    std::memcpy(code + 9, &displacement, 4);
#else
    // mov rcx, object    ; the first argument register, the handle
    // mov rax, procedure
    // jmp rax            ; the other arguments and the stack stay as they came
    const uint64_t objectAddress = uint64_t(uintptr_t(object));
    const uint64_t target = uint64_t(uintptr_t(procedure));
    code[0] = 0x48;
    code[1] = 0xB9;
    std::memcpy(code + 2, &objectAddress, 8);
    code[10] = 0x48;
    code[11] = 0xB8;
    std::memcpy(code + 12, &target, 8);
    code[20] = 0xFF;
    code[21] = 0xE0;
#endif
    DWORD previous = 0;
    if (!VirtualProtect(thunk, kWindowThunkSize, PAGE_EXECUTE_READ, &previous))
        return false;
    FlushInstructionCache(GetCurrentProcess(), thunk, kWindowThunkSize);
    return true;
}
