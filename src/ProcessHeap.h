// Heap settings for short batch runs that build large in-memory models.
#pragma once

// Lets the heap grow in large steps backed by huge pages, and from then on
// serves small blocks (the map nodes and strings of the object model, by
// the million in a large link) from per-thread pools: no lock, no header,
// no trimming. Page faults and the general-purpose allocator, not the work
// itself, dominate the cost of reading thousands of objects on several
// threads. Only hints: when the system ignores them or refuses the address
// space, every block comes from malloc as before.
void tuneProcessHeap();
