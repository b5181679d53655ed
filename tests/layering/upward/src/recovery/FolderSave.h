// the layer above
