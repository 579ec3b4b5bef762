// hybrid.cpp: the grain list.
#include "hybrid.h"

#include <cstdlib>

grain *head = nullptr;
grain *tail = nullptr;

static grain *new_node()
{
    grain *node = static_cast<grain *>(std::malloc(sizeof(grain)));
    if (node) {
        node->prev = nullptr;
        node->next = nullptr;
    }
    return node;
}

grain *creer()
{
    grain *first = nullptr;
    if (!tail) {
        first = new_node();
        if (!first)
            return nullptr;
    }
    grain *node = new_node();
    if (!node) {
        std::free(first);
        return nullptr;
    }
    if (first) {
        head = first;
        tail = first;
    }
    tail->next = node;
    node->prev = tail;
    tail = node;
    return node;
}

void detruire(grain *node)
{
    if (node->prev)
        node->prev->next = node->next;
    else
        head = node->next;
    if (node->next)
        node->next->prev = node->prev;
    else
        tail = node->prev;
    std::free(node);
}
