export default function Page() { return null }
