// a sibling format
