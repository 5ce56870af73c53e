from talvo.talvo import main

main()
