// Heap settings for short batch runs that build large in-memory models.
#pragma once

// Lets the heap grow in large steps and asks for its first, large step to
// be backed by huge pages. Page faults, not the allocator, dominate the cost
// of reading thousands of objects; a run with huge pages takes a few
// hundred faults instead of tens of thousands. Only hints: nothing changes
// when the system ignores them (or another allocator is in use).
void tuneProcessHeap();
