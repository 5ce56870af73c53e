class Item:
    pass
