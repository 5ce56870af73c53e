export function BookmarkList() { return null }
