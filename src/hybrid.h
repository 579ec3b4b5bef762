// hybrid.h: the grain list.
//
// Every grain of the world is one node of a single doubly linked list,
// walked from `head` to `tail` along `next`. Each node is its own heap
// block (one malloc per node: a 32-byte record on x86-64, in a 48-byte
// block of glibc's malloc), so a walk costs one pointer chase per grain.
//
// Conventions:
//   - `head.prev` and `tail.next` are null; following `next` from `head`
//     reaches `tail` and following `prev` from `tail` reaches `head`.
//   - The list is built once by repeated `creer` calls and afterwards only
//     shrinks through `detruire`; nothing inserts or reorders it later.
//   - The grain world keeps the most recently created node, `tail`, as a
//     spare that carries no grain (see world.h).
//   - Single-threaded: `head` and `tail` are plain globals.
#ifndef VESK_HYBRID_H
#define VESK_HYBRID_H

#include <cstdint>

struct grain {
    int32_t kind; // 1 for every seeded grain; nothing reads it
    int32_t x;    // grid column of the grain's cell, grows rightward
    int32_t y;    // grid row of the grain's cell, grows upward, 1 = floor
    grain *prev;  // neighbour toward head; null for the head
    grain *next;  // neighbour toward tail; null for the tail
};

extern grain *head; // first node, where walks start; null while empty
extern grain *tail; // last node, the most recently created; null while empty

// Appends a fresh node at the tail (two on the very first call, so N calls
// from empty give N + 1 nodes). Only the links of new nodes are set;
// kind, x and y are left for the caller. Returns the new tail, or null when
// memory ran out, in which case the list is exactly as it was before the call.
grain *creer();

// Unlinks `node`, which must be in the list, and frees it. Removing the only
// node empties the list (head and tail become null).
void detruire(grain *node);

#endif
