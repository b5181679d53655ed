// one of the formats sharing it
